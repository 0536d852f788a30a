// The terminal port behind a load balancer: the PROXY header comes first and names the
// terminal; without the option such a header is garbage to the framer.
#include <memory>

#include <gtest/gtest.h>
#include <QHostAddress>
#include <QList>

#include "codec/TerminalPackets.h"
#include "device/link/OrbTcpServer.h"
#include "tests/codec/ProxyHeaderBytes.h"
#include "tests/device/TerminalHandlerParts.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/ServiceProcess.h"

namespace {
using TerminalPackets::frame;

class ProxiedServer : private TerminalHandlerParts, public OrbTcpServer {
  public:
    explicit ProxiedServer(bool proxyProtocol, const ProxyTrust& trusted = ProxyTrust())
        : OrbTcpServer(handler, terminalMetrics, limitsFor(proxyProtocol, trusted)) {
        connect(this, &OrbTcpServer::connectClient, this,
                [this](qintptr id, QString address, quint16 port) {
                    clients << Client{id, address, port, deliveries.size()};
                });
        connect(this, &OrbTcpServer::sockDisConnect, this,
                [this](qintptr, QString, quint16) { ++disconnected; });
        EXPECT_TRUE(listenDeep(QHostAddress::LocalHost, 0));
    }

    struct Client {
        qintptr id;
        QString address;
        quint16 port;
        int deliveriesBefore;  // packets handed on before the address was known
    };
    QList<Client> clients;
    QList<QByteArray> deliveries;
    int disconnected = 0;

  protected:
    void deliver(qintptr, const QByteArray& packet) override { deliveries << packet; }

  private:
    static Limits limitsFor(bool proxyProtocol, const ProxyTrust& trusted) {
        Limits limits;
        limits.proxyTrusted = trusted;
        limits.maxConnCount = 10;
        limits.checkIntervalMs = 50;
        limits.proxyProtocol = proxyProtocol;
        limits.proxyHeaderLimitMs = 400;
        return limits;
    }
};

QByteArray packet() {
    DeviceReport id;
    id.devSN = "SN-PROXY";
    id.devType = "T1";
    return frame(0x0001, "SN-PROXY", 1, TerminalPackets::reportBody(id, false));
}

std::unique_ptr<FakeTerminal> connected(const OrbTcpServer& server) {
    auto terminal = std::make_unique<FakeTerminal>();
    EXPECT_TRUE(terminal->connectTo(server.serverPort()));
    return terminal;
}
}  // namespace

// The terminal's address reaches the handler before its first packet, which arrives whole
// whether it shares a segment with the header or the header comes in pieces.
TEST(ProxyProtocol, HeaderNamesTheTerminalBeforeItsPackets) {
    const QByteArray v2Tcp4 =
        ProxyHeaderBytes::v2Tcp4("\xC6\x33\x64\x09", "\x7F\x00\x00\x01", 50123, 10022);
    const QByteArray v1Tcp6("PROXY TCP6 2001:db8::7 ::1 40001 10022\r\n");
    const struct {
        const char* name;
        QList<QByteArray> writes;
        const char* address;  // null: the connection's own peer
        quint16 port;
    } cases[] = {
        {"v1 TCP4 with the packet",
         {"PROXY TCP4 192.0.2.7 127.0.0.1 40001 10022\r\n" + packet()},
         "192.0.2.7",
         40001},
        {"v1 TCP6 in pieces", {v1Tcp6.left(9), v1Tcp6.mid(9), packet()}, "2001:db8::7", 40001},
        {"v2 TCP4 in pieces",
         {v2Tcp4.left(5), v2Tcp4.mid(5, 13), v2Tcp4.mid(18) + packet()},
         "198.51.100.9",
         50123},
        {"v1 UNKNOWN", {"PROXY UNKNOWN\r\n" + packet()}, nullptr, 0},
        {"v2 LOCAL", {ProxyHeaderBytes::v2(0, 0, QByteArray()) + packet()}, nullptr, 0},
    };
    ProxiedServer server(true);
    for (const auto& c : cases) {
        server.clients.clear();
        server.deliveries.clear();
        auto terminal = connected(server);
        for (const QByteArray& piece : c.writes) ASSERT_TRUE(terminal->write(piece)) << c.name;
        ASSERT_TRUE(waitUntil([&] { return server.deliveries.size() == 1; })) << c.name;
        EXPECT_EQ(server.deliveries.first(), packet()) << c.name;
        ASSERT_EQ(server.clients.size(), 1) << c.name;
        const ProxiedServer::Client& client = server.clients.first();
        EXPECT_EQ(client.deliveriesBefore, 0) << c.name;
        EXPECT_EQ(client.address, c.address ? QString(c.address) : QString("127.0.0.1")) << c.name;
        EXPECT_EQ(client.port, c.address ? c.port : terminal->localPort()) << c.name;
        EXPECT_TRUE(terminal->isConnected()) << c.name;
    }
}

// With the option on, a connection that does not begin with a valid header is closed, its
// bytes never reach the handler; one that sends nothing is closed at the header deadline.
TEST(ProxyProtocol, MissingOrBrokenHeaderClosesTheConnection) {
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"a packet without a header", packet()},
        {"a broken v1 address", "PROXY TCP4 192.0.2.300 127.0.0.1 40001 10022\r\n" + packet()},
        {"a v2 header of version 1",
         ProxyHeaderBytes::v2Tcp4("\x01\x02\x03\x04", "\x7F\x00\x00\x01", 1, 2)
             .replace(12, 1, "\x11")},
        {"nothing at all", QByteArray()},
        {"half a header, then silence", QByteArray("PROXY TCP4 192.0.2.7")},
    };
    ProxiedServer server(true);
    for (const auto& c : cases) {
        const int closedBefore = server.disconnected;
        auto terminal = connected(server);
        if (!c.bytes.isEmpty()) {
            ASSERT_TRUE(terminal->write(c.bytes)) << c.name;
        }
        EXPECT_TRUE(terminal->waitForDisconnect(3000)) << c.name;
        EXPECT_TRUE(waitUntil([&] { return server.disconnected == closedBefore + 1; })) << c.name;
    }
    EXPECT_TRUE(server.deliveries.isEmpty());
    EXPECT_TRUE(server.clients.isEmpty());
    EXPECT_EQ(server.connectionCount(), 0);
}

// Off (the default), the connection is known at accept and a header is framed like any other
// bytes: the framer finds no packet magic and closes the connection, as before.
TEST(ProxyProtocol, OffByDefaultAHeaderIsGarbage) {
    EXPECT_FALSE(OrbTcpServer::Limits().proxyProtocol);
    ProxiedServer server(false);
    auto terminal = connected(server);
    ASSERT_TRUE(waitUntil([&] { return server.clients.size() == 1; }));
    EXPECT_EQ(server.clients.first().port, terminal->localPort());
    ASSERT_TRUE(terminal->write("PROXY TCP4 192.0.2.7 127.0.0.1 40001 10022\r\n" + packet()));
    EXPECT_TRUE(terminal->waitForDisconnect());
    EXPECT_TRUE(server.deliveries.isEmpty());
}

// The balancers are named by address or range; an empty list means one on the same host.
TEST(ProxyProtocol, TrustedPeersByAddressAndRange) {
    QStringList invalid;
    const ProxyTrust listed =
        ProxyTrust::parse(" 10.0.0.0/8, 2001:db8::/32,192.0.2.7 , nonsense, 10.1.2.3/40", &invalid);
    EXPECT_EQ(invalid, QStringList({"nonsense", "10.1.2.3/40"}));
    const struct {
        const ProxyTrust& trust;
        const char* peer;
        bool trusted;
    } cases[] = {
        {ProxyTrust(), "127.8.0.3", true},
        {ProxyTrust(), "::ffff:127.0.0.1", true},
        {ProxyTrust(), "192.0.2.7", false},
        {listed, "10.200.0.1", true},
        {listed, "2001:db8:5::1", true},
        {listed, "::ffff:192.0.2.7", true},
        {listed, "192.0.2.8", false},
        {listed, "127.0.0.1", false},
        {ProxyTrust::parse(" , "), "::1", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.trust.trusts(QHostAddress(c.peer)), c.trusted) << c.peer;
}

// A peer outside the trusted list is a direct connection whatever it sends: its packets count
// under its own address, and a PROXY header from it is garbage that closes the connection.
TEST(ProxyProtocol, UntrustedPeerIsServedUnderItsOwnAddress) {
    ProxiedServer server(true, ProxyTrust::parse("10.0.0.0/8"));
    auto direct = connected(server);
    ASSERT_TRUE(waitUntil([&] { return server.clients.size() == 1; }));
    EXPECT_EQ(server.clients.first().address, "127.0.0.1");
    EXPECT_EQ(server.clients.first().port, direct->localPort());
    ASSERT_TRUE(direct->write(packet()));
    ASSERT_TRUE(waitUntil([&] { return server.deliveries.size() == 1; }));

    auto forged = connected(server);
    ASSERT_TRUE(forged->write("PROXY TCP4 192.0.2.7 127.0.0.1 40001 10022\r\n" + packet()));
    EXPECT_TRUE(forged->waitForDisconnect());
    EXPECT_EQ(server.deliveries.size(), 1);
    for (const auto& client : server.clients) EXPECT_EQ(client.address, "127.0.0.1");
    EXPECT_TRUE(direct->isConnected());
}
