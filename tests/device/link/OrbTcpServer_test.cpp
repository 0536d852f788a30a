#include "device/link/OrbTcpServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QMap>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include "codec/TerminalPackets.h"
#include "db/PinnedTransaction.h"
#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "device/TcpDataMgtApi.h"
#include "tests/codec/RawHeader.h"
#include "tests/device/TerminalHandlerParts.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/RawConnection.h"
#include "tests/support/ServiceProcess.h"

namespace {
using TerminalPackets::frame;

// The sum of the counts that lines matching pattern (one number captured) report.
int countedIn(const MessageCapture& capture, const QString& pattern) {
    const QRegularExpression re(pattern);
    int sum = 0;
    for (const QString& line : capture.lines()) {
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch()) sum += m.captured(1).toInt();
    }
    return sum;
}

// A device report that identifies the terminal sn (an empty sn identifies nobody).
QByteArray report(const QString& sn, quint16 cmd = 0x0001) {
    DeviceReport id;
    id.devSN = sn;
    id.devType = "NOPKG";
    return frame(cmd, sn.toUtf8(), 1, TerminalPackets::reportBody(id, cmd == 0x0006));
}
// Records what the server hands to the message handler, and the connections it reports.
class RecordingServer : private TerminalHandlerParts, public OrbTcpServer {
  public:
    template <typename... Args>
    explicit RecordingServer(Args&&... args)
        : OrbTcpServer(handler, terminalMetrics, std::forward<Args>(args)...) {}

    TcpDataMgtApi& messages() { return handler; }

    struct Delivery {
        qintptr socketId;
        QByteArray packet;
    };
    QList<Delivery> deliveries;
    QMap<quint16, qintptr> socketIdByPort;  // peer port -> socket ID
    QList<qintptr> disconnected;

    void start() {
        connect(this, &OrbTcpServer::connectClient, this,
                [this](qintptr id, QString, quint16 port) { socketIdByPort[port] = id; });
        connect(this, &OrbTcpServer::sockDisConnect, this,
                [this](qintptr id, QString, quint16) { disconnected << id; });
        ASSERT_TRUE(listenDeep(QHostAddress::LocalHost, 0));
    }

    // Connects a terminal and waits until the server has accepted it.
    std::unique_ptr<FakeTerminal> connectTerminal() {
        auto terminal = std::make_unique<FakeTerminal>();
        EXPECT_TRUE(terminal->connectTo(serverPort()));
        const quint16 port = terminal->localPort();
        EXPECT_TRUE(waitUntil([&] { return socketIdByPort.contains(port); }));
        return terminal;
    }

    // Sends packet and waits until it has reached the message handler (so its socket has
    // judged it).
    void sendAndWait(FakeTerminal& terminal, const QByteArray& packet) {
        const int before = deliveries.size();
        ASSERT_TRUE(terminal.write(packet));
        ASSERT_TRUE(waitUntil([&] { return deliveries.size() > before; }));
    }
    qintptr idOf(const FakeTerminal& terminal) const {
        return socketIdByPort.value(terminal.localPort());
    }

  protected:
    void deliver(qintptr socketId, const QByteArray& packet) override {
        deliveries << Delivery{socketId, packet};
        OrbTcpServer::deliver(socketId, packet);
    }
};

// Long enough for a queued packet to travel through the socket thread and back.
constexpr int kQuietMs = 300;
}  // namespace

TEST(OrbTcpServer, TwoPacketsInOneSegmentGiveTwoDeliveriesInOrder) {
    RecordingServer server(nullptr, 10);
    server.start();
    auto terminal = server.connectTerminal();
    const QByteArray first = frame(0x0002, "DEV-0001", 1, "\x00\x00\x00\x28");
    const QByteArray second = frame(0x0003, "DEV-0001", 2, "\x00\x00\x00\x00ok");
    ASSERT_TRUE(terminal->write(first + second));
    ASSERT_TRUE(waitUntil([&] { return server.deliveries.size() >= 2; }));
    EXPECT_EQ(server.deliveries.size(), 2);
    EXPECT_EQ(server.deliveries[0].packet, first);
    EXPECT_EQ(server.deliveries[1].packet, second);
    EXPECT_EQ(server.deliveries[0].socketId, server.socketIdByPort.value(terminal->localPort()));
}

TEST(OrbTcpServer, PacketInThreeSegmentsGivesOneDeliveryAtTheLastByte) {
    RecordingServer server(nullptr, 10);
    server.start();
    auto terminal = server.connectTerminal();
    const QByteArray packet = frame(0x0001, "DEV-0001", 5, QByteArray(304, 's'));
    ASSERT_TRUE(terminal->write(packet.left(20)));
    ASSERT_TRUE(terminal->write(packet.mid(20, 200)));
    EXPECT_FALSE(waitUntil([&] { return !server.deliveries.isEmpty(); }, kQuietMs));
    ASSERT_TRUE(terminal->write(packet.mid(220)));
    ASSERT_TRUE(waitUntil([&] { return !server.deliveries.isEmpty(); }));
    EXPECT_EQ(server.deliveries.size(), 1);
    EXPECT_EQ(server.deliveries[0].packet, packet);
}

TEST(OrbTcpServer, HeaderIsExaminedOnlyBeyond40Bytes) {
    RecordingServer server(nullptr, 10);
    server.start();
    auto bad = server.connectTerminal();
    ASSERT_TRUE(bad->write(rawHeader(0x00, 0x00, 0, 0)));
    EXPECT_FALSE(bad->waitForDisconnect(kQuietMs));
    ASSERT_TRUE(bad->write(QByteArray(1, '\0')));
    EXPECT_TRUE(bad->waitForDisconnect());

    auto good = server.connectTerminal();
    const QByteArray packet = frame(0x0002, "DEV-0001", 1, QByteArray());
    ASSERT_TRUE(good->write(packet.left(41)));
    EXPECT_FALSE(good->waitForDisconnect(kQuietMs));
    ASSERT_TRUE(good->write(packet.mid(41)));
    ASSERT_TRUE(waitUntil([&] { return !server.deliveries.isEmpty(); }));
    EXPECT_EQ(server.deliveries.last().packet, packet);
}

TEST(OrbTcpServer, BadHeadersCloseTheConnection) {
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"cmd 0", rawHeader(0x5A, 0xA5, 0, 0) + QByteArray(2, '\0')},
        {"cmd 8", rawHeader(0x5A, 0xA5, 8, 0) + QByteArray(2, '\0')},
        {"dataLen 1401", rawHeader(0x5A, 0xA5, 1, 1401) + QByteArray(2, '\0')},
        {"magic", rawHeader(0xA5, 0x5A, 1, 0) + QByteArray(2, '\0')},
    };
    RecordingServer server(nullptr, 10);
    server.start();
    for (const Case& c : cases) {
        auto terminal = server.connectTerminal();
        const qintptr id = server.socketIdByPort.value(terminal->localPort());
        ASSERT_TRUE(terminal->write(c.bytes)) << c.name;
        EXPECT_TRUE(terminal->waitForDisconnect()) << c.name;
        EXPECT_TRUE(waitUntil([&] { return server.disconnected.contains(id); })) << c.name;
    }
    EXPECT_TRUE(server.deliveries.isEmpty());
    EXPECT_TRUE(waitUntil([&] { return server.connectionCount() == 0; }));

    auto longest = server.connectTerminal();
    const QByteArray packet = frame(0x0005, "DEV-0001", 1, QByteArray(1400, 'L'));
    ASSERT_TRUE(longest->write(packet));
    ASSERT_TRUE(waitUntil([&] { return !server.deliveries.isEmpty(); }));
    EXPECT_EQ(server.deliveries[0].packet, packet);
    EXPECT_TRUE(longest->isConnected());
}

TEST(OrbTcpServer, ConnectionLimitAndRecovery) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 2;
    limits.logWindowMs = 100;
    limits.checkIntervalMs = 100;
    RecordingServer server(limits);
    server.start();
    auto first = server.connectTerminal();
    auto second = server.connectTerminal();
    server.sendAndWait(*first, report("LIMIT-1"));
    server.sendAndWait(*second, report("LIMIT-2"));
    ASSERT_EQ(server.connectionCount(), 2);

    MessageCapture capture;
    FakeTerminal third;
    ASSERT_TRUE(third.connectTo(server.serverPort()));
    EXPECT_TRUE(third.waitForDisconnect());
    // One line for the burst, with its count, once its window has passed.
    EXPECT_TRUE(waitUntil([&] {
        return capture.contains("Greater than the maximum number of connections; thread is:");
    }));
    EXPECT_TRUE(capture.contains("refused 1 connections"))
        << capture.lines().join("\n").toStdString();
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(first->isConnected());

    first->close();
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 1; }));
    auto fourth = server.connectTerminal();
    EXPECT_EQ(server.connectionCount(), 2);
    // Progress 100: no poll is scheduled that could reach the next test's reused socket ID.
    const QByteArray packet = frame(0x0002, "DEV-0001", 1, QByteArray("\0\0\0\x64", 4));
    server.deliveries.clear();
    ASSERT_TRUE(fourth->write(packet));
    ASSERT_TRUE(waitUntil([&] { return !server.deliveries.isEmpty(); }));
    EXPECT_EQ(server.deliveries[0].socketId, server.socketIdByPort.value(fourth->localPort()));
}

// A full server makes room for a newcomer by closing the connection that has gone longest
// without a valid packet among those that never identified themselves; terminals that did are
// never pushed out, so a newcomer is refused once every slot holds one.
TEST(OrbTcpServerSlots, NewcomerPushesOutTheLongestIdleUnidentifiedConnection) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 3;
    limits.logWindowMs = 100;
    limits.checkIntervalMs = 100;
    RecordingServer server(limits);
    server.start();
    MessageCapture capture;
    auto known = server.connectTerminal();
    server.sendAndWait(*known, report("SLOT-1"));
    auto silent = server.connectTerminal();
    const qintptr silentId = server.idOf(*silent);
    auto talking = server.connectTerminal();

    auto second = server.connectTerminal();  // pushes out the silent one
    EXPECT_TRUE(silent->waitForDisconnect());
    EXPECT_TRUE(waitUntil([&] { return server.disconnected.contains(silentId); }));
    // A valid packet that identifies nobody still counts as activity.
    server.sendAndWait(*talking, frame(0x0002, "SLOT-T", 1, QByteArray("\0\0\0\x64", 4)));
    auto third = server.connectTerminal();  // pushes out `second`, idle since it connected
    EXPECT_TRUE(second->waitForDisconnect());
    EXPECT_TRUE(talking->isConnected());
    EXPECT_TRUE(known->isConnected());

    server.sendAndWait(*talking, report("SLOT-2"));
    server.sendAndWait(*third, report("SLOT-3"));
    FakeTerminal refused;
    ASSERT_TRUE(refused.connectTo(server.serverPort()));
    EXPECT_TRUE(refused.waitForDisconnect());
    EXPECT_TRUE(waitUntil([&] { return capture.contains("refused 1 connections"); }));
    EXPECT_TRUE(waitUntil([&] { return countedIn(capture, "made room by closing (\\d+)") == 2; }))
        << capture.lines().join("\n").toStdString();
    EXPECT_EQ(server.connectionCount(), 3);
    for (auto* terminal : {known.get(), talking.get(), third.get()})
        EXPECT_TRUE(terminal->isConnected());
}

// Only a device report that passes the check code and parses with a serial number identifies
// a terminal; a connection without one is closed at the identification limit.
TEST(OrbTcpServerSlots, ConnectionWithoutAValidReportIsClosedAtTheLimit) {
    QByteArray badCheck = report("SLOT-BAD");
    badCheck[60] = static_cast<char>(badCheck[60] ^ 0x20);
    DeviceReport shortId;
    shortId.devSN = "SLOT-SHORT";
    const struct {
        const char* name;
        QByteArray packet;  // empty: sends nothing
        bool stays;
    } cases[] = {
        // Staying ones first: connected earlier, they would be closed no later than the rest.
        {"report", report("SLOT-OK"), true},
        {"extended report", report("SLOT-OK-EXTENDED-0123456789", 0x0006), true},
        {"silent", QByteArray(), false},
        {"bad check code", badCheck, false},
        {"progress only", frame(0x0002, "SLOT-P", 1, QByteArray("\0\0\0\x64", 4)), false},
        {"empty serial number", report(""), false},
        {"short report body",
         frame(0x0001, "SLOT-SHORT", 1, TerminalPackets::reportBody(shortId, false).left(300)),
         false},
    };
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 20;
    limits.identifyLimitSecs = 1;
    limits.checkIntervalMs = 100;
    RecordingServer server(limits);
    server.start();
    std::vector<std::unique_ptr<FakeTerminal>> terminals;
    for (const auto& c : cases) {
        terminals.push_back(server.connectTerminal());
        if (!c.packet.isEmpty()) server.sendAndWait(*terminals.back(), c.packet);
    }
    for (size_t i = 0; i < terminals.size(); ++i) {
        if (!cases[i].stays) {
            EXPECT_TRUE(terminals[i]->waitForDisconnect(10000)) << cases[i].name;
        }
    }
    for (size_t i = 0; i < terminals.size(); ++i) {
        if (cases[i].stays) {
            EXPECT_TRUE(terminals[i]->isConnected()) << cases[i].name;
        }
    }
}

TEST(OrbTcpServer, AnswerReachesOnlyItsSocket) {
    RecordingServer server(nullptr, 20);
    server.start();
    std::vector<std::unique_ptr<FakeTerminal>> terminals;
    for (int i = 0; i < 8; ++i) terminals.push_back(server.connectTerminal());
    auto idOf = [&](int i) { return server.socketIdByPort.value(terminals[i]->localPort()); };

    const QByteArray toThird = frame(0x0002, "DEV-0001", 3, QByteArray());
    const QByteArray toSixth = frame(0x0004, "DEV-0001", 6, QByteArray(4, '\x01'));
    emit server.messages().sendSocketData(toThird, idOf(3));
    emit server.messages().sendSocketData(toSixth, idOf(6));
    ASSERT_TRUE(terminals[3]->waitForData(toThird.size()));
    ASSERT_TRUE(terminals[6]->waitForData(toSixth.size()));
    // Anything written elsewhere would have arrived by now, as both answers went to all sockets.
    EXPECT_FALSE(waitUntil(
        [&] {
            for (size_t i = 0; i < terminals.size(); ++i) {
                terminals[i]->waitForData(0, 0);
                if (i != 3 && i != 6 && !terminals[i]->received().isEmpty()) return true;
            }
            return false;
        },
        kQuietMs));
    EXPECT_EQ(terminals[3]->take(), toThird);
    EXPECT_EQ(terminals[6]->take(), toSixth);
}

TEST(OrbTcpServer, IdleConnectionIsDroppedWhileABusyOneStays) {
    RecordingServer server(nullptr, 10, /*idleLimitSecs=*/2, /*checkIntervalMs=*/100);
    server.start();
    // Started before the connections: the server counts their idle time from their accept.
    QElapsedTimer clock;
    clock.start();
    auto idle = server.connectTerminal();
    auto busy = server.connectTerminal();
    auto noisy = server.connectTerminal();
    const qintptr idleId = server.socketIdByPort.value(idle->localPort());
    const qintptr busyId = server.socketIdByPort.value(busy->localPort());
    const qintptr noisyId = server.socketIdByPort.value(noisy->localPort());
    // Framed, but with a wrong check code: no sign of life.
    QByteArray garbage = frame(0x0002, "DEV-0002", 1, QByteArray("\0\0\0\x64", 4));
    garbage[41] = static_cast<char>(garbage[41] ^ 0x01);

    QTimer keepAlive;
    QObject::connect(&keepAlive, &QTimer::timeout, [&] {
        // Progress 100: the message handler schedules no poll that could
        // outlive this test and reach a later one's reused socket ID.
        busy->write(frame(0x0002, "DEV-0001", 1, QByteArray("\0\0\0\x64", 4)));
        if (noisy->isConnected()) noisy->write(garbage);
    });
    keepAlive.start(250);

    EXPECT_TRUE(idle->waitForDisconnect(10000));
    EXPECT_TRUE(noisy->waitForDisconnect(10000));
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_TRUE(waitUntil([&] { return server.disconnected.contains(idleId); }));
    EXPECT_TRUE(waitUntil([&] { return server.disconnected.contains(noisyId); }));
    // Keep the busy terminal going for well over the limit.
    EXPECT_FALSE(waitUntil([&] { return server.disconnected.contains(busyId); }, 4000));
    EXPECT_TRUE(busy->isConnected());
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(OrbTcpServer, PeerCloseIsCleanedUpAndReportedOnce) {
    RecordingServer server(nullptr, 10);
    server.start();
    auto terminal = server.connectTerminal();
    const qintptr id = server.socketIdByPort.value(terminal->localPort());
    terminal->close();
    ASSERT_TRUE(waitUntil([&] { return server.disconnected.contains(id); }));
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_FALSE(waitUntil([&] { return server.disconnected.size() > 1; }, kQuietMs));
}

// Sockets only: threads of the process may open an eventfd or a file of their own meanwhile.
int openSockets() {
    int sockets = 0;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System))
        if (fd.symLinkTarget().contains("socket:")) ++sockets;
    return sockets;
}

// The kernel gives a new connection the lowest free descriptor number, the one a terminal that
// just left had. Its socket ID must not follow, or the old one's disconnect report and answers
// still queued would reach the newcomer. A connection holds its one descriptor and no more.
TEST(OrbTcpServer, OneDescriptorPerConnectionAndIdsNeverServeTwo) {
    RecordingServer server(nullptr, 20);
    server.start();
    const int before = openSockets();
    std::vector<std::unique_ptr<FakeTerminal>> terminals;
    for (int i = 0; i < 10; ++i) terminals.push_back(server.connectTerminal());
    EXPECT_EQ(openSockets() - before, 10 * 2);  // the terminals' own and the server's

    const qintptr gone = server.idOf(*terminals[0]);
    terminals[0]->close();
    auto newcomer = server.connectTerminal();
    EXPECT_NE(server.idOf(*newcomer), gone);
    ASSERT_TRUE(waitUntil([&] { return server.disconnected.contains(gone); }));
    const QByteArray late = frame(0x0002, "DEV-0001", 1, QByteArray());
    const QByteArray own = frame(0x0002, "DEV-0001", 2, QByteArray());
    emit server.messages().sendSocketData(late, gone);
    emit server.messages().sendSocketData(own, server.idOf(*newcomer));
    ASSERT_TRUE(newcomer->waitForData(own.size()));
    EXPECT_EQ(newcomer->take(), own);

    terminals.clear();
    newcomer.reset();
    EXPECT_TRUE(waitUntil([&] { return openSockets() == before; }));
}

TEST(OrbTcpServer, PauseIgnoresConnectionsAndPacketsUntilResume) {
    RecordingServer server(nullptr, 10);
    server.start();
    auto open = server.connectTerminal();
    const QByteArray packet = frame(0x0002, "DEV-0001", 1, QByteArray(4, '\0'));

    server.pause();
    FakeTerminal refused;
    ASSERT_TRUE(refused.connectTo(server.serverPort()));
    EXPECT_TRUE(refused.waitForDisconnect());
    EXPECT_EQ(server.connectionCount(), 1);
    ASSERT_TRUE(open->write(packet));
    EXPECT_FALSE(waitUntil([&] { return !server.deliveries.isEmpty(); }, kQuietMs));
    // Answers still go out while paused.
    emit server.messages().sendSocketData(packet, server.socketIdByPort.value(open->localPort()));
    EXPECT_TRUE(open->waitForData(packet.size()));

    server.resume();
    ASSERT_TRUE(open->write(packet));
    ASSERT_TRUE(waitUntil([&] { return server.deliveries.size() == 1; }));
    auto later = server.connectTerminal();
    EXPECT_EQ(server.connectionCount(), 2);
}

// A burst of handshakes larger than Qt's own accept queue of 50 completes in the kernel even
// while the server's thread is busy and accepts nothing.
TEST(OrbTcpServer, DeepAcceptQueueTakesAReconnectBurstWhileTheServerIsBusy) {
    RecordingServer server(nullptr, 1000);
    server.start();
    constexpr int kBurst = 300;
    std::vector<int> fds;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(server.serverPort());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < kBurst; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fds.push_back(fd);
    }
    // No Qt events are processed here: only the kernel's queue can complete these.
    int connected = 0;
    for (int fd : fds) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (::poll(&p, 1, 5000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 &&
            error == 0)
            ++connected;
    }
    EXPECT_EQ(connected, kBurst);
    EXPECT_TRUE(waitUntil([&] { return server.connectionCount() == kBurst; }, 30000));
    for (int fd : fds) ::close(fd);
    EXPECT_TRUE(waitUntil([&] { return server.connectionCount() == 0; }, 30000));
}

// The message handler can ask for a connection to be closed: an answer sent just before still
// arrives, the close is reported back as a disconnect, and other connections stay.
TEST(OrbTcpServer, HandlerClosesAConnectionAfterItsLastAnswer) {
    RecordingServer server(nullptr, 10);
    server.start();
    auto closing = server.connectTerminal();
    auto staying = server.connectTerminal();
    const qintptr id = server.idOf(*closing);
    const QByteArray answer = frame(0x0003, "DEV-0001", 2, QByteArray("bye"));
    emit server.messages().sendSocketData(answer, id);
    emit server.messages().closeConnection(id);
    emit server.messages().closeConnection(id + 1000);  // no such connection
    EXPECT_TRUE(closing->waitForDisconnect());
    EXPECT_EQ(closing->take(), answer);
    EXPECT_TRUE(waitUntil([&] { return server.disconnected.contains(id); }));
    EXPECT_EQ(server.disconnected.size(), 1);
    EXPECT_TRUE(staying->isConnected());
    EXPECT_EQ(server.connectionCount(), 1);
}

// Answers the kernel cannot take yet (the terminal reads late, with a small receive buffer) wait
// in the socket and follow as the terminal reads, all of them and in order.
TEST(OrbTcpServerLoad, AnswersToALateReaderArriveWholeAndInOrder) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 10;
    limits.maxPendingWriteBytes = 64 * 1024 * 1024;
    RecordingServer server(limits);
    server.start();
    const int fd = rawConnection(server.serverPort(), 4096);
    ASSERT_GE(fd, 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    const quint16 port = ntohs(local.sin_port);
    ASSERT_TRUE(waitUntil([&] { return server.socketIdByPort.contains(port); }));
    QByteArray sent;
    for (int i = 0; i < 8000; ++i) {  // 8 MB: far beyond what the kernel holds unread
        const QByteArray answer =
            frame(0x0002, "LATE", static_cast<quint16>(i), QByteArray(960, 'a'));
        sent += answer;
        emit server.messages().sendSocketData(answer, server.socketIdByPort.value(port));
    }
    // Read as the server's loop turns: the answers reach the socket through it.
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    QByteArray received;
    waitUntil(
        [&] {
            char buffer[65536];
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                received.append(buffer, static_cast<int>(n));
            return received.size() >= sent.size();
        },
        30000);
    ::close(fd);
    EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";
}

// A terminal sending faster than the service handles is read only a few packets ahead of the
// handler (TCP holds the rest); nothing it sent before leaving is lost, and its leaving is
// reported after its last packet.
TEST(OrbTcpServerLoad, FastSenderIsReadAtTheServicesPaceWithoutLoss) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 10;
    limits.maxPacketsInFlight = 4;
    RecordingServer server(limits);
    server.start();
    auto terminal = server.connectTerminal();
    const qintptr id = server.idOf(*terminal);
    constexpr int kPackets = 300;
    const int size = frame(0x0005, "FAST", 1, QByteArray(1000, 'f')).size();
    QByteArray burst;
    for (int i = 0; i < kPackets; ++i)
        burst += frame(0x0005, "FAST", static_cast<quint16>(i + 1), QByteArray(1000, 'f'));
    ASSERT_TRUE(terminal->write(burst));
    terminal->close();
    ASSERT_TRUE(waitUntil([&] { return server.disconnected.contains(id); }));
    ASSERT_EQ(server.deliveries.size(), kPackets);
    for (int i = 0; i < kPackets; ++i)
        EXPECT_EQ(server.deliveries[i].packet, burst.mid(i * size, size)) << i;
}

// Out of descriptors, accept() fails: the server pauses accepting instead of spinning on the
// error, writes one line for the episode, and takes the waiting terminals once descriptors are
// free again.
TEST(OrbTcpServerLoad, AcceptFailurePausesInsteadOfSpinningAndRecovers) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 10;
    limits.checkIntervalMs = 100;
    limits.logWindowMs = 3000;
    limits.acceptPauseMs = 200;
    RecordingServer server(limits);
    server.start();
    int failures = 0;
    QObject::connect(&server, &QTcpServer::acceptError, [&] { ++failures; });
    MessageCapture capture;

    // Handshakes complete in the kernel's queue; the server accepts only when events run here.
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(server.serverPort());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        clients.push_back(fd);
    }
    std::vector<int> fillers;
    for (int fd; (fd = ::fcntl(clients[0], F_DUPFD_CLOEXEC, 0)) >= 0;) fillers.push_back(fd);
    ASSERT_EQ(errno, EMFILE);

    ASSERT_TRUE(waitUntil([&] { return failures > 0; }));
    // A server retrying at once would fail thousands of times in this second.
    EXPECT_FALSE(waitUntil([&] { return failures > 10; }, 1000)) << failures;
    for (int fd : fillers) ::close(fd);
    EXPECT_TRUE(waitUntil([&] { return server.connectionCount() == 3; }));
    EXPECT_TRUE(waitUntil([&] { return capture.contains("accept failed"); }));
    EXPECT_EQ(capture.lines().filter("accept failed").size(), 1);
    EXPECT_TRUE(capture.contains(QStringLiteral("accept failed %1 times").arg(failures)))
        << capture.lines().filter("accept failed").join("\n").toStdString();
    for (int fd : clients) ::close(fd);
}

namespace {
// Writes a row per packet through the pool and answers with the packet itself, as the message
// handler does; "cut" also asks for its connection to be closed, "lost" ends the batch's
// transaction under it, so that its commit fails.
class WritingServer : public RecordingServer {
  public:
    using RecordingServer::RecordingServer;
    int batched = 0;  // packets handled inside a transaction

    static bool run(const QString& statement, const QByteArray& packet = QByteArray()) {
        PooledConnection connection;
        QSqlQuery query(connection.database());
        query.prepare(statement);
        if (!packet.isNull()) query.addBindValue(packet);
        return query.exec();
    }
    // Queued as the socket threads queue packets: all before the server handles any.
    void queue(const FakeTerminal& terminal, const QList<QByteArray>& packets) {
        const qintptr id = idOf(terminal);
        for (const QByteArray& packet : packets)
            QMetaObject::invokeMethod(
                this, [this, id, packet] { readDataSlot(id, QString(), 0, packet); },
                Qt::QueuedConnection);
    }

  protected:
    void deliver(qintptr socketId, const QByteArray& packet) override {
        deliveries << Delivery{socketId, packet};
        if (PinnedTransaction::current()) ++batched;
        run(QStringLiteral("insert into BatchProbe values(?)"), packet);
        if (packet == "lost") run(QStringLiteral("rollback"));
        emit messages().sendSocketData(packet, socketId);
        if (packet == "cut") emit messages().closeConnection(socketId);
    }
};

// Whether packet's row can be read on a connection of its own: committed.
bool committed(const QByteArray& packet) {
    QSqlDatabase probe = QSqlDatabase::database(QStringLiteral("probe"));
    QSqlQuery query(probe);
    query.prepare(QStringLiteral("select count(*) from BatchProbe where packet=?"));
    query.addBindValue(packet);
    return query.exec() && query.next() && query.value(0).toInt() == 1;
}

class OrbTcpServerBatch : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WritingServer::run(
            QStringLiteral("create table if not exists BatchProbe(packet blob)")));
        ASSERT_TRUE(WritingServer::run(QStringLiteral("delete from BatchProbe")));
        QSqlDatabase probe = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "probe");
        probe.setDatabaseName(SQLiteDb::instance()->databasePath());
        ASSERT_TRUE(probe.open());
    }
    void TearDown() override { QSqlDatabase::removeDatabase(QStringLiteral("probe")); }
};
}  // namespace

// The packets that wait together are handled in one transaction; each connection's answers,
// and a close asked for after them, leave in order and only once their rows are committed.
TEST_F(OrbTcpServerBatch, AnswersLeaveInOrderOnceTheirBatchIsCommitted) {
    WritingServer server(nullptr, 10);
    server.start();
    auto a = server.connectTerminal();
    auto b = server.connectTerminal();
    QList<QByteArray> uncommittedAtSend;
    QObject::connect(&server, &OrbTcpServer::sentData, [&](QByteArray packet, qintptr) {
        if (!committed(packet)) uncommittedAtSend << packet;
    });
    server.queue(*a, {"a1", "a2"});
    server.queue(*b, {"b1", "cut"});
    server.queue(*a, {"a3"});
    ASSERT_TRUE(b->waitForDisconnect());
    EXPECT_EQ(b->take(), "b1cut");
    ASSERT_TRUE(a->waitForData(6));
    EXPECT_EQ(a->take(), "a1a2a3");
    EXPECT_EQ(server.batched, 5);
    EXPECT_TRUE(uncommittedAtSend.isEmpty()) << uncommittedAtSend.join(' ').constData();
}

// A batch holds at most batchPackets; one whose commit fails loses its writes but still
// answers every packet of it, in order, and the batches after it commit as usual.
TEST_F(OrbTcpServerBatch, FailedCommitStillAnswersAndLaterBatchesCommit) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = 10;
    limits.batchPackets = 2;
    limits.batchMs = 60000;
    WritingServer server(limits);
    server.start();
    auto terminal = server.connectTerminal();
    server.queue(*terminal, {"p1", "p2", "p3", "lost", "p4", "p5"});
    ASSERT_TRUE(terminal->waitForData(14));
    EXPECT_EQ(terminal->take(), "p1p2p3lostp4p5");
    for (const char* kept : {"p1", "p2", "p4", "p5"}) EXPECT_TRUE(committed(kept)) << kept;
    for (const char* lost : {"p3", "lost"}) EXPECT_FALSE(committed(lost)) << lost;
}
