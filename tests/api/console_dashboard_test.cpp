// The dashboard's counts and a terminal's timeline against the running service: a terminal
// connects, reports a new version, is sent a command it first refuses and then carries out, and
// leaves; the fleet's history is sampled meanwhile.
#include <QDateTime>

#include "tests/api/ConsoleFixture.h"
#include "tests/support/TerminalConnection.h"

namespace {

class ConsoleDashboardTest : public ConsoleTest {
  protected:
    // kind and detail of each of the terminal's events, oldest first.
    QStringList timeline(const QString& devSN) {
        QStringList events;
        const QJsonObject page = get("/KORVA/v2/devices/" + devSN.toUtf8() + "/events?limit=500");
        for (const QJsonValue& event : page.value("events").toArray())
            events.prepend(event["kind"].toString() + " " + event["detail"].toString());
        return events;
    }
    QString newest(const QString& devSN) {
        const QStringList events = timeline(devSN);
        return events.isEmpty() ? QString() : events.last();
    }
};

TEST_F(ConsoleDashboardTest, CountsHistoryAndTimelineOfATerminal) {
    m_service.setParam("DashboardSampleSeconds", 1);
    ASSERT_TRUE(startService()) << m_service.output().constData();
    seed("devSN,devType,AppVersion", {"'D01','T1','V1.0'", "'D02','T1','V1.0'", "'D03','T2','V2'"});
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(m_db->exec(QStringLiteral("insert into Tab_UpgradeAttempt(devSN,startedAt,outcome) "
                                          "values('D02',%1,'succeeded'),('D03',%1,'reverted'),"
                                          "('D03',%2,'reverted')")
                               .arg(now)
                               .arg(now - 30 * 86400)));

    // A rollout of a package the terminals of T1 are not behind: its progress is sampled too.
    addPackage("T1", "t1.bin", "V1.0", 16);
    const QByteArray package = m_db->value("select id from Tab_Package").toByteArray();
    json("PUT", "/KORVA/v2/packages/" + package + "/plan",
         R"({"stages":[{"percent":100}],"pauseAtFailures":3})");

    TerminalConnection terminal(m_service.tcpPort(), "ID-1");
    ASSERT_TRUE(terminal.connected());
    DeviceReport report;
    report.devSN = "D01";
    report.devType = "T1";
    report.AppVersion = "V1.1";
    ASSERT_TRUE(terminal.report(report));
    ASSERT_NE(terminal.next().cmd, 0);
    json("PATCH", "/KORVA/v2/devices/D01", R"({"ConfigCmd":"reboot"})");
    // Refused, sent again at the next report, then carried out.
    for (const quint32 result : {1u, 0u}) {
        ASSERT_TRUE(terminal.report(report));
        SocketPacket answer;
        while (answer.cmd != 0x0003) {
            answer = terminal.next();
            ASSERT_NE(answer.cmd, 0);
        }
        ASSERT_TRUE(terminal.send(0x0003, TerminalPackets::cmdResultBody(result, "r")));
    }
    ASSERT_TRUE(waitUntil([&] { return newest("D01").startsWith("command_result 0"); }));
    // The history sampled while the terminal is online.
    QJsonObject board;
    ASSERT_TRUE(waitUntil([&] {
        board = get("/KORVA/v2/dashboard?utcOffsetMinutes=0");
        for (const QJsonValue& point : board.value("online").toArray())
            if (point["online"].toInt() == 1 && point["total"].toInt() == 3)
                return !board.value("rollouts").toArray().isEmpty();
        return false;
    }));
    const QJsonObject rollout = board.value("rollouts")[0].toObject();
    EXPECT_EQ(rollout.value("packageName").toString(), "t1.bin");
    EXPECT_EQ(rollout.value("points").toArray().last()["total"].toInt(), 2);
    terminal.close();
    ASSERT_TRUE(waitUntil([&] { return newest("D01") == "disconnected "; }));

    QStringList events = timeline("D01");
    events = events.filter(QRegularExpression("^(connected|reported|command|disconnected)"));
    EXPECT_EQ(events.size(), 7) << events.join('\n').toStdString();
    EXPECT_TRUE(events.value(0).startsWith("connected 127.0.0.1:"));
    EXPECT_EQ(events.mid(1),
              QStringList({"reported AppVersion V1.0 -> V1.1",
                           "command_set {\"ConfigCmd\":\"reboot\"}", "command_sent reboot",
                           "command_result 1 r", "command_result 0 r", "disconnected "}));

    // The terminal's storage is bounded: older events go as new ones come.
    for (int i = 0; i < 250; ++i)
        ASSERT_TRUE(m_db->exec("insert into Tab_DeviceEvent(devSN,at,kind) values('D02',1,'x')"));
    json("PATCH", "/KORVA/v2/devices/D02", R"({"GetLogFile":true})");
    const QJsonObject kept = get("/KORVA/v2/devices/D02/events?limit=1");
    EXPECT_EQ(kept.value("total").toInt(), 200);
    EXPECT_EQ(kept.value("events")[0]["kind"].toString(), "command_set");

    EXPECT_EQ(board.value("terminals")["total"].toInt(), 3);
    QStringList versions;
    for (const QJsonValue& v : board.value("versions").toArray())
        if (v["component"].toString() == "AppVersion")
            versions << QStringLiteral("%1 %2 %3")
                            .arg(v["devType"].toString(), v["version"].toString())
                            .arg(v["terminals"].toInt());
    versions.sort();
    EXPECT_EQ(versions, QStringList({"T1 V1.0 1", "T1 V1.1 1", "T2 V2 1"}));
    const QJsonArray days = board.value("upgradesPerDay").toArray();
    ASSERT_EQ(days.size(), 1);  // the attempt of 30 days ago is outside the week shown
    EXPECT_EQ(days[0]["day"].toString(),
              QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString("yyyy-MM-dd"));
    EXPECT_EQ(days[0]["started"].toInt(), 2);
    EXPECT_EQ(days[0]["succeeded"].toInt(), 1);
    EXPECT_EQ(days[0]["failed"].toInt(), 1);
}

}  // namespace
