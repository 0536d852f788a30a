// When a plan may offer its package: windows of the time of day, one crossing midnight, and a
// start time, each at its edges.
#include <gtest/gtest.h>

#include "upgrade/rollout/RolloutSchedule.h"

TEST(RolloutSchedule, WindowsAndStartTimeAtTheirEdges) {
    const QDateTime day(QDate(2026, 3, 1), QTime(0, 0));
    const struct {
        QStringList windows;
        qint32 startAfterDay;  // seconds after the day began; 0 for no start time
        const char* at;
        bool allows;
    } cases[] = {
        {{}, 0, "12:00", true},
        {{"01:00-05:00"}, 0, "00:59", false},
        {{"01:00-05:00"}, 0, "01:00", true},
        {{"01:00-05:00"}, 0, "05:00", false},
        {{"22:30-02:00"}, 0, "23:59", true},
        {{"22:30-02:00"}, 0, "00:00", true},
        {{"22:30-02:00"}, 0, "02:00", false},
        {{"22:30-02:00"}, 0, "12:00", false},
        {{"01:00-02:00", " 13:00-14:00 "}, 0, "13:30", true},
        {{}, 3600, "00:59", false},
        {{}, 3600, "01:00", true},
        {{"00:00-02:00"}, 7200, "01:30", false},  // both must let it through
    };
    for (const auto& c : cases) {
        struRolloutPlan plan;
        QString error;
        ASSERT_TRUE(RolloutSchedule::read(c.windows, plan.windows, error)) << error.toStdString();
        if (c.startAfterDay > 0)
            plan.startAt = static_cast<qint32>(day.toSecsSinceEpoch()) + c.startAfterDay;
        const QDateTime at(day.date(), QTime::fromString(QLatin1String(c.at), "HH:mm"));
        EXPECT_EQ(RolloutSchedule::allows(plan, at), c.allows)
            << plan.windows.toStdString() << " at " << c.at;
    }
    QString stored;
    QString error;
    for (const char* wrong : {"1:00-05:00", "01:00-01:00", "24:00-01:00", "01:00", ""})
        EXPECT_FALSE(RolloutSchedule::read({QLatin1String(wrong)}, stored, error)) << wrong;
    ASSERT_TRUE(RolloutSchedule::read({" 01:00-05:00", "22:00-02:30"}, stored, error));
    EXPECT_EQ(stored, "01:00-05:00,22:00-02:30");
}
