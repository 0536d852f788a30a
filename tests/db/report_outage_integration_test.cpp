// A PostgreSQL outage in the middle of an upgrade: the terminal reports 100, comes back on the
// new version and is answered while the server is down; once it is back, what the terminal said
// is written in its order, so the attempt ends as succeeded, and the writes that waited show in
// /metrics.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUuid>

#include "codec/TerminalPackets.h"
#include "tests/db/PgCluster.h"
#include "tests/support/HttpClient.h"
#include "tests/support/MetricsText.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/TerminalConnection.h"

namespace {
const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");
const QString kSN = QStringLiteral("PG-OUTAGE-1");

DeviceReport identity(const QString& version) {
    DeviceReport report;
    report.devSN = kSN;
    report.devType = QStringLiteral("T1");
    report.AppVersion = version;
    return report;
}

// The service on a fresh cluster's database, with a package of kNew for type T1.
class ReportOnPostgreSQL : public ::testing::Test {
  protected:
    void SetUp() override {
        START_PG_CLUSTER(cluster);
        cluster.serve(service);
        ASSERT_TRUE(service.start()) << service.output().toStdString();

        const QString path = service.appDir() + QStringLiteral("/Package/T1/pkg.bin");
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1000, 'p'));
        file.close();
        ASSERT_TRUE(cluster
                        .value(QStringLiteral("insert into Tab_Package(packageName,AppVersion,"
                                              "packagePath,size,deviceType) values('pkg.bin','%1',"
                                              "'%2',1000,'T1') returning id")
                                   .arg(kNew, path))
                        .isValid());
    }

    PgCluster cluster{PgCluster::freshDir()};
    ServiceProcess service;
};

// The flag of the next packet, an upgrade answer; kNoAnswer when it is none.
constexpr quint32 kNoAnswer = 0xFFFFFFFF;
quint32 nextUpgradeFlag(TerminalConnection& terminal) {
    quint32 flag = 0;
    QString url;
    return TerminalPackets::parseUpgradeAnswer(terminal.next().data, flag, url) ? flag : kNoAnswer;
}

double metric(quint16 port, const QByteArray& name) {
    MetricsText text;
    QString error;
    const HttpResponse reply = httpGet(port, "/metrics");
    if (reply.status != 200 || !text.parse(reply.body, error)) return -1;
    return text.value(name, {}, -1);
}
}  // namespace

TEST_F(ReportOnPostgreSQL, WhatTerminalsReportWhileTheDatabaseIsAwayIsWrittenWhenItIsBack) {
    TerminalConnection before(service.tcpPort(), "ID-1");
    ASSERT_TRUE(before.report(identity(kOld)));
    ASSERT_EQ(nextUpgradeFlag(before), 1u);
    const QString attempts =
        QStringLiteral("select count(*) from Tab_UpgradeAttempt where devSN='%1'").arg(kSN);
    ASSERT_TRUE(waitUntil([&] { return cluster.value(attempts).toInt() == 1; }));

    ASSERT_TRUE(cluster.pause());
    // Installed during the outage: 100, then back on the new version on a new connection.
    ASSERT_TRUE(before.send(0x0002, TerminalPackets::progressBody(100)));
    before.close();
    TerminalConnection after(service.tcpPort(), "ID-1");
    ASSERT_TRUE(after.report(identity(kNew)));
    EXPECT_EQ(nextUpgradeFlag(after), 0u);  // answered as today while the database is away
    ASSERT_TRUE(waitUntil([&] {
        return metric(service.httpPort(), "wayfarer_report_writes_queued") >= 4;
    })) << service.output().toStdString();

    ASSERT_TRUE(cluster.resume());
    const QString outcome =
        QStringLiteral("select outcome from Tab_UpgradeAttempt where devSN='%1'").arg(kSN);
    ASSERT_TRUE(waitUntil([&] { return cluster.value(outcome).toString() == "succeeded"; }, 30000))
        << service.output().toStdString();
    EXPECT_EQ(cluster
                  .value(QStringLiteral("select AppVersion || ' ' || (UpgradeCompletionTime>0) "
                                        "from Tab_DeviceInfo where devSN='%1'")
                             .arg(kSN))
                  .toString(),
              kNew + QStringLiteral(" true"));
    const QString presence =
        QStringLiteral("select count(*) from Tab_DevicePresence where devSN='%1'").arg(kSN);
    EXPECT_EQ(cluster.value(presence).toInt(), 1);  // the new connection, not the closed one
    EXPECT_TRUE(waitUntil(
        [&] { return metric(service.httpPort(), "wayfarer_report_writes_queued") == 0; }));
    EXPECT_GE(metric(service.httpPort(), "wayfarer_report_writes_retried_total"), 4);
    EXPECT_EQ(metric(service.httpPort(), "wayfarer_report_writes_failed_total"), 0);
    after.close();
    EXPECT_TRUE(waitUntil([&] { return cluster.value(presence).toInt() == 0; }));
}

// A batch reads its terminals ahead in one statement, but a terminal whose report follows its
// own progress 100 in the same read sees what that wrote: its forced upgrade is done, so the
// report on the new version is not offered the package again.
TEST_F(ReportOnPostgreSQL, ATerminalsReportSeesWhatItsPacketBeforeItInTheSameBatchWrote) {
    TerminalConnection terminal(service.tcpPort(), "ID-1");
    ASSERT_TRUE(terminal.report(identity(kOld)));
    ASSERT_EQ(nextUpgradeFlag(terminal), 1u);
    ASSERT_EQ(terminal.next().cmd, 0x0002);  // the poll for its progress
    ASSERT_TRUE(cluster
                    .value(QStringLiteral("update Tab_DeviceInfo set isAutoUpdate=1 where "
                                          "devSN='%1' returning devSN")
                               .arg(kSN))
                    .isValid());

    ASSERT_TRUE(
        terminal.sendTogether({{0x0002, TerminalPackets::progressBody(100)},
                               {0x0001, TerminalPackets::reportBody(identity(kNew), false)}}));
    EXPECT_EQ(nextUpgradeFlag(terminal), 0u);
}
