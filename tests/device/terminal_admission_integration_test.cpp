// Who gets a terminal slot and a device row when connections report serial numbers nobody has
// seen: the real service at its connection limit and at its registration limits.
#include <memory>
#include <vector>

#include "codec/TerminalPackets.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/MetricsText.h"
#include "tests/support/TerminalConnection.h"
#include "tests/support/WebServiceFixture.h"

namespace {
constexpr int kNoUpgradeAnswer = 42 + 132;

QByteArray report(const QString& sn, quint16 serial) {
    DeviceReport id;
    id.devSN = sn;
    id.devType = "NOPKG";
    return TerminalPackets::frame(0x0001, sn.toUtf8(), serial,
                                  TerminalPackets::reportBody(id, false));
}

// Connects from source and reports as sn; the connection whether answered or not.
std::unique_ptr<FakeTerminal> reporting(const ServiceProcess& service, const QString& sn,
                                        const QHostAddress& source = QHostAddress::LocalHost) {
    auto terminal = std::make_unique<FakeTerminal>();
    EXPECT_TRUE(terminal->connectFrom(source, service.tcpPort())) << sn.toStdString();
    EXPECT_TRUE(terminal->write(report(sn, 1))) << sn.toStdString();
    return terminal;
}

bool answered(FakeTerminal& terminal) {
    return terminal.waitForData(kNoUpgradeAnswer);
}

// Closed by the service without a word.
bool turnedAway(FakeTerminal& terminal) {
    return terminal.waitForDisconnect() && terminal.received().isEmpty();
}

double metric(const ServiceProcess& service, const QByteArray& name,
              const MetricsText::Labels& labels = {}) {
    const HttpResponse reply = httpGet(service.httpPort(), "/metrics");
    MetricsText text;
    QString error;
    if (reply.status != 200 || !text.parse(reply.body, error)) return -1;
    return text.value(name, labels, 0);
}

int rows(ServiceDb& db, const QString& sn) {
    return db.value(QStringLiteral("select count(*) from Tab_DeviceInfo where devSN='%1'").arg(sn))
        .toInt();
}

// Connections of serial numbers first seen on them hold every slot: terminals the table knows
// still get in, each in the place of the longest idle of them, except a new terminal that has
// taken the upgrade offered to it; one more fresh serial number is turned away without a row.
TEST(LinkAdmission, KnownTerminalsTakeTheSlotsOfFreshSerialNumbers) {
    ServiceProcess service;
    service.setParam("MaxConnCount", 6);
    ASSERT_TRUE(service.start());
    ServiceDb db(service.path("WFS.db"));
    const QString package = service.path("Package/T1/pkg.bin");
    QDir().mkpath(QFileInfo(package).path());
    QFile file(package);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(1000, 'p')) == 1000);
    file.close();
    ASSERT_TRUE(db.exec(QStringLiteral("insert into Tab_Package(packageName,AppVersion,packagePath,"
                                       "size,deviceType) values('pkg.bin','V5.3.1','%1',1000,'T1')")
                            .arg(package)));
    const QStringList fleet = {"FLEET-0", "FLEET-1", "FLEET-2"};
    for (const QString& sn : fleet)
        ASSERT_TRUE(
            db.exec(QStringLiteral("insert into Tab_DeviceInfo(devSN,devType) values('%1','NOPKG')")
                        .arg(sn)));

    // The longest idle of all, but proven: it answers its offer with progress.
    TerminalConnection upgrading(service.tcpPort(), "UP-ID");
    DeviceReport identity;
    identity.devSN = "NEW-UPGRADING";
    identity.devType = "T1";
    identity.AppVersion = "V5.3.0";
    ASSERT_TRUE(upgrading.report(identity));
    EXPECT_EQ(upgrading.next().cmd, 0x0001);
    EXPECT_EQ(upgrading.next().cmd, 0x0002);  // the first progress poll
    ASSERT_TRUE(upgrading.send(0x0002, TerminalPackets::progressBody(10)));
    EXPECT_EQ(upgrading.next().cmd, 0x0002);
    std::vector<std::unique_ptr<FakeTerminal>> occupiers;
    for (int i = 0; i < 5; ++i) {
        occupiers.push_back(reporting(service, QStringLiteral("OCCUPY-%1").arg(i)));
        ASSERT_TRUE(answered(*occupiers.back())) << i;
    }

    std::vector<std::unique_ptr<FakeTerminal>> known;
    for (size_t i = 0; i < static_cast<size_t>(fleet.size()); ++i) {
        known.push_back(reporting(service, fleet[static_cast<int>(i)]));
        EXPECT_TRUE(answered(*known.back())) << i;
        EXPECT_TRUE(occupiers[i]->waitForDisconnect()) << i;
    }
    auto late = reporting(service, "OCCUPY-LATE");
    EXPECT_TRUE(turnedAway(*late));
    EXPECT_EQ(rows(db, "OCCUPY-LATE"), 0);
    EXPECT_EQ(metric(service, "wayfarer_terminal_connections_refused_total"), 1);
    EXPECT_TRUE(occupiers[3]->isConnected() && occupiers[4]->isConnected());
    ASSERT_TRUE(upgrading.send(0x0002, TerminalPackets::progressBody(20)));
    EXPECT_EQ(upgrading.next().cmd, 0x0002);
    EXPECT_TRUE(waitUntil(
        [&] { return service.output().contains("closed 3 connections of serial numbers first"); },
        15000));
}

// Fresh serial numbers become devices at most at the configured rates, per source address and
// in all; a refused one gets no row and its connection is closed, a known terminal is never
// held up, and the refusals are counted and logged in one line.
TEST(LinkAdmission, NewSerialNumbersAreRateLimitedPerAddressAndInAll) {
    ServiceProcess service;
    service.setParam("RegistrationsPerMinutePerAddress", 2);
    service.setParam("RegistrationsPerMinute", 3);
    ASSERT_TRUE(service.start());
    ServiceDb db(service.path("WFS.db"));
    const QHostAddress one("127.0.0.1");
    const QHostAddress two("127.0.0.2");
    const struct {
        const char* sn;
        const QHostAddress& source;
        bool registered;
    } cases[] = {
        {"RATE-A1", one, true},  {"RATE-A2", one, true},
        {"RATE-A3", one, false},                           // the address's two are taken
        {"RATE-B1", two, true},  {"RATE-B2", two, false},  // the three in all are taken
        {"RATE-A1", one, true},                            // known by now: no registration
    };
    for (const auto& c : cases) {
        auto terminal = reporting(service, c.sn, c.source);
        EXPECT_TRUE(c.registered ? answered(*terminal) : turnedAway(*terminal)) << c.sn;
        EXPECT_EQ(rows(db, c.sn), c.registered ? 1 : 0) << c.sn;
    }
    EXPECT_EQ(metric(service, "wayfarer_terminal_packets_refused_total",
                     {{"reason", "registration_limited"}}),
              2);
    const QByteArray line = "refused 2 new serial numbers over the registration limits";
    ASSERT_TRUE(waitUntil([&] { return service.output().contains(line); }, 15000));
    EXPECT_EQ(service.output().count("new serial numbers over the registration limits"), 1);
}
}  // namespace
