// The progress list every instance answers alike: connected terminals (on any instance) whose
// current upgrade reported progress on their present connection.
#include "db/Tab_DevicePresence.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_UpgradeAttempt.h"

#include "tests/db/DbTestSupport.h"

namespace {
class TabDevicePresenceTest : public DbTableTest {
  protected:
    void SetUp() override {
        DbTableTest::SetUp();
        for (const char* table :
             {"Tab_UpgradeAttempt", "Tab_DevicePresence", "Tab_DeviceInfo", "Tab_DeviceEvent"})
            ASSERT_TRUE(sqlExec(QStringLiteral("delete from %1").arg(QLatin1String(table))));
    }
};

struct Terminal {
    const char* sn;
    const char* instance;  // null: not connected
    qint32 connectedSince;
    // Attempts in order, each with its progress reports as (at, percent).
    std::vector<std::vector<std::pair<qint32, int>>> attempts;
};
}  // namespace

TEST_F(TabDevicePresenceTest, UpgradeProgressOfConnectedTerminalsOnAnyInstance) {
    QList<struDeviceInfo> devices;
    ASSERT_TRUE(Tab_DevicePresence::upgradeProgress(devices));
    EXPECT_TRUE(devices.isEmpty());

    const Terminal terminals[] = {
        {"A-on-one", "one:10022", 100, {{{120, 40}}}},
        {"B-done-on-two", "two:10022", 90, {{{95, 60}, {130, 100}}}},
        {"C-progress-before-connecting", "one:10022", 200, {{{150, 50}}}},
        {"D-gone", nullptr, 0, {{{120, 70}}}},
        {"E-no-progress-yet", "two:10022", 100, {{}}},
        {"F-new-attempt-silent", "one:10022", 100, {{{120, 30}}, {}}},
    };
    Tab_DeviceInfo table;
    for (const Terminal& t : terminals) {
        struDeviceInfo device;
        device.devSN = QLatin1String(t.sn);
        device.devType = QStringLiteral("T1");
        device.AppVersion = QStringLiteral("V5.3.0 build220711");
        ASSERT_TRUE(table.insertDevice(device)) << t.sn;
        if (t.instance) {
            struDevicePresence presence;
            presence.devSN = device.devSN;
            presence.instance = QLatin1String(t.instance);
            presence.connectedSince = t.connectedSince;
            presence.lastReport = t.connectedSince;
            ASSERT_TRUE(Tab_DevicePresence::recordReport(presence)) << t.sn;
        }
        for (const auto& reports : t.attempts) {
            struUpgradeAttempt attempt;
            attempt.devSN = device.devSN;
            attempt.packageId = 1;
            attempt.startedAt = 90;
            ASSERT_TRUE(Tab_UpgradeAttempt::start(attempt)) << t.sn;
            for (const auto& report : reports)
                ASSERT_TRUE(
                    Tab_UpgradeAttempt::progress(device.devSN, report.second, report.first));
        }
    }

    ASSERT_TRUE(Tab_DevicePresence::upgradeProgress(devices));
    QStringList listed;
    for (const struDeviceInfo& d : devices) {
        listed << QStringLiteral("%1:%2").arg(d.devSN).arg(d.upgradeProgress);
        EXPECT_TRUE(d.progressReported) << d.devSN.toStdString();
        EXPECT_EQ(d.devType, "T1");
        EXPECT_EQ(d.AppVersion, "V5.3.0 build220711");
    }
    // In the order they connected.
    EXPECT_EQ(listed, QStringList({"B-done-on-two:100", "A-on-one:40"}));

    // A departure seen by an instance that no longer holds the terminal leaves its row; each
    // goes in the timeline.
    struDeviceEvent gone;
    gone.devSN = QStringLiteral("A-on-one");
    gone.kind = QLatin1String(kEventDisconnected);
    for (const char* instance : {"two:10022", "one:10022"}) {
        ASSERT_TRUE(Tab_DevicePresence::depart(QLatin1String(instance), gone));
        struDevicePresence presence;
        EXPECT_EQ(Tab_DevicePresence::get(gone.devSN, presence), instance[0] == 't') << instance;
    }
    QList<struDeviceEvent> events;
    qint64 total = 0;
    ASSERT_TRUE(Tab_DeviceEvent::page(gone.devSN, 0, 10, events, total));
    EXPECT_EQ(total, 2);
}
