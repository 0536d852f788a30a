// The dashboard's tables and counts on whichever database the suite runs against: a sampled
// period keeps the row written first, a terminal keeps its newest events, and the grouped counts
// answer alike in both dialects.
#include <gtest/gtest.h>

#include "db/FleetCounts.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_FleetSample.h"
#include "tests/db/DbTestSupport.h"

namespace {
class FleetTablesTest : public DbTableTest {};

TEST_F(FleetTablesTest, SamplesEventsAndCounts) {
    // Run in one process with the other table tests: what they left would be counted too.
    for (const char* table : {"Tab_FleetSample", "Tab_DeviceEvent", "Tab_UpgradeAttempt"})
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from %1").arg(QLatin1String(table))));
    struFleetSample first{600, QStringLiteral("online"), QString(), 5, 0, 9};
    struFleetSample again = first;
    again.done = 7;  // another instance, the same period
    struFleetSample old{300, QStringLiteral("online"), QString(), 1, 0, 9};
    ASSERT_TRUE(Tab_FleetSample::recordAbsent({old, first}));
    ASSERT_TRUE(Tab_FleetSample::recordAbsent({again}));
    ASSERT_TRUE(Tab_FleetSample::removeBefore(600));
    QList<struFleetSample> samples;
    ASSERT_TRUE(Tab_FleetSample::since(0, samples));
    ASSERT_EQ(samples.size(), 1);
    EXPECT_EQ(samples[0].done, 5);

    for (int i = 0; i < Tab_DeviceEvent::kKeptPerTerminal + 5; ++i)
        ASSERT_TRUE(Tab_DeviceEvent::record(
            {0, QStringLiteral("SN-1"), i, QStringLiteral("reported"), QString::number(i)}));
    ASSERT_TRUE(Tab_DeviceEvent::record({0, QStringLiteral("SN-2"), 1, QStringLiteral("x"), {}}));
    QList<struDeviceEvent> events;
    qint64 total = 0;
    ASSERT_TRUE(Tab_DeviceEvent::page(QStringLiteral("SN-1"), 1, 2, events, total));
    EXPECT_EQ(total, Tab_DeviceEvent::kKeptPerTerminal);
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].detail, QStringLiteral("203"));  // newest first, after the one skipped
    EXPECT_EQ(sqlValue("select count(*) from Tab_DeviceEvent where devSN='SN-2'").toInt(), 1);

    const char* const apps[][2] = {{"SN-A", "1.0"}, {"SN-B", "2.0"}, {"SN-C", "1.0"}};
    for (const auto& row : apps) {
        struDeviceInfo device;
        device.devSN = QLatin1String(row[0]);
        device.devType = QStringLiteral("T1");
        device.AppVersion = QLatin1String(row[1]);
        ASSERT_TRUE(Tab_DeviceInfo().insertDevice(device));
    }
    QList<FleetCounts::Version> versions;
    ASSERT_TRUE(FleetCounts::versions(versions));
    QStringList counted;
    for (const FleetCounts::Version& v : versions)
        if (v.component == QLatin1String("AppVersion"))
            counted << QStringLiteral("%1 %2 %3").arg(v.devType, v.version).arg(v.terminals);
    EXPECT_EQ(counted, QStringList({"T1 1.0 2", "T1 2.0 1"}));

    // 23:00 UTC is the next day at UTC+2.
    ASSERT_TRUE(
        sqlExec("insert into Tab_UpgradeAttempt(devSN,startedAt,outcome) values "
                "('SN-A',82800,'succeeded'),('SN-B',3600,'reverted'),('SN-C',90000,'')"));
    QList<FleetCounts::Day> days;
    ASSERT_TRUE(FleetCounts::upgradesPerDay(0, 7200, days));
    ASSERT_EQ(days.size(), 2);
    EXPECT_EQ(days[0].day, 0);
    EXPECT_EQ(days[0].failed, 1);
    EXPECT_EQ(days[1].day, 1);
    EXPECT_EQ(days[1].started, 2);
    EXPECT_EQ(days[1].succeeded, 1);
}
}  // namespace
