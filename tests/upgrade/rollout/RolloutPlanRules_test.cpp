// The rules of a staged rollout over a plan's stored state: which stage takes a terminal, when
// the open stage pauses or makes way for the next, and the buckets the stages are drawn from.
#include <gtest/gtest.h>

#include "upgrade/rollout/RolloutBucket.h"
#include "upgrade/rollout/RolloutPlanRules.h"

namespace {
// Stage 1 lists terminals, stages 2 to 4 take 1 %, 10 % and 100 % of the buckets.
struRolloutPlan plan(int openStages, const char* state = kRolloutRunning) {
    struRolloutPlan p;
    p.state = QLatin1String(state);
    p.openStages = openStages;
    const qint32 shares[] = {0, 100, 1000, 10000};
    for (int i = 0; i < 4; ++i) {
        struRolloutStage stage;
        stage.position = i + 1;
        stage.sharePoints = shares[i];
        stage.minSeconds = 60;
        stage.successPercent = 90;
        stage.openedAt = i < openStages ? 1000 : 0;
        p.stages << stage;
    }
    return p;
}

struPackageInfo package(qint32 id, const QString& name) {
    struPackageInfo p;
    p.id = id;
    p.packageName = name;
    return p;
}
}  // namespace

TEST(RolloutPlanRules, StageOfATerminalAndWhetherItIsOffered) {
    const struct {
        const char* name;
        int bucket;
        int listedPosition;
        int openStages;
        const char* state;
        int stage;
        bool offered;
    } cases[] = {
        {"listed beats its share", 5, 1, 1, kRolloutRunning, 1, true},
        {"within 1 %", 99, 0, 2, kRolloutRunning, 2, true},
        {"within 1 %, stage not open", 99, 0, 1, kRolloutRunning, 2, false},
        {"edge of 1 % belongs to 10 %", 100, 0, 3, kRolloutRunning, 3, true},
        {"earlier stages stay open", 50, 0, 4, kRolloutRunning, 2, true},
        {"last bucket in 100 %", 9999, 0, 4, kRolloutRunning, 4, true},
        {"listed in a later stage keeps its earlier share", 20, 3, 2, kRolloutRunning, 2, true},
        {"paused offers nobody", 5, 1, 2, kRolloutPaused, 1, false},
        {"cancelled offers nobody", 5, 1, 4, kRolloutCancelled, 1, false},
    };
    for (const auto& c : cases) {
        const struRolloutPlan p = plan(c.openStages, c.state);
        const int stage = RolloutPlanRules::stageOf(p, c.bucket, c.listedPosition);
        EXPECT_EQ(stage, c.stage) << c.name;
        EXPECT_EQ(RolloutPlanRules::offers(p, stage), c.offered) << c.name;
    }
    struRolloutPlan partial = plan(1);
    partial.stages.removeLast();  // up to 10 %
    EXPECT_EQ(RolloutPlanRules::stageOf(partial, 5000, 0), 0);
}

TEST(RolloutPlanRules, PauseAndAdvanceOfTheOpenStage) {
    using Step = RolloutPlanRules::Step;
    const struct {
        const char* name;
        int failures, failurePercent, accepted;  // the plan's thresholds, failures accepted
        StageProgress open;                      // members, attempted, succeeded, failed, waiting
        qint32 now;                              // the open stage opened at 1000, 60 s minimum
        Step step;
    } cases[] = {
        {"count reached", 2, 0, 0, {10, 5, 3, 2, 0}, 1001, Step::Pause},
        {"count not reached", 3, 0, 0, {10, 5, 3, 2, 0}, 1001, Step::None},
        {"share reached", 0, 40, 0, {10, 5, 3, 2, 0}, 1001, Step::Pause},
        {"share not reached", 0, 50, 0, {10, 5, 3, 2, 0}, 1001, Step::None},
        {"failures accepted at resume", 1, 0, 2, {10, 5, 3, 2, 0}, 2000, Step::None},
        {"one more after resume", 1, 0, 2, {10, 6, 3, 3, 0}, 1001, Step::Pause},
        {"pause before advance", 1, 0, 0, {10, 10, 9, 1, 0}, 2000, Step::Pause},
        {"proven but too early", 5, 0, 0, {10, 10, 10, 0, 0}, 1059, Step::None},
        {"proven after the minimum time", 5, 0, 0, {10, 10, 9, 0, 0}, 1060, Step::Advance},
        {"success share short", 5, 0, 0, {10, 10, 8, 0, 0}, 2000, Step::None},
        {"nothing attempted, terminals waiting", 5, 0, 0, {10, 0, 0, 0, 3}, 2000, Step::None},
        {"nothing attempted, none behind", 5, 0, 0, {10, 0, 0, 0, 0}, 2000, Step::Advance},
    };
    for (const auto& c : cases) {
        struRolloutPlan p = plan(2);
        p.pauseAtFailures = c.failures;
        p.pauseAtFailurePercent = c.failurePercent;
        p.failuresAccepted = c.accepted;
        QString reason;
        EXPECT_EQ(RolloutPlanRules::next(p, c.open, c.now, reason), c.step) << c.name;
        EXPECT_EQ(reason.isEmpty(), c.step != Step::Pause) << c.name;
    }
    QString reason;
    const StageProgress proven{10, 10, 10, 0, 0};
    EXPECT_EQ(RolloutPlanRules::next(plan(4), proven, 9999, reason), Step::None) << "last stage";
    EXPECT_EQ(RolloutPlanRules::next(plan(2, kRolloutPaused), proven, 9999, reason), Step::None);
}

TEST(RolloutPlanRules, NearThePauseThresholdAndFinished) {
    const struct {
        const char* name;
        int failures, failurePercent, accepted;
        StageProgress open;
        bool near;
    } cases[] = {
        {"4 of 5 failures", 5, 0, 0, {10, 6, 2, 4, 0}, true},
        {"3 of 5 failures", 5, 0, 0, {10, 6, 3, 3, 0}, false},
        {"threshold reached pauses instead", 5, 0, 0, {10, 6, 1, 5, 0}, false},
        {"failures accepted at resume", 5, 0, 3, {10, 9, 3, 6, 0}, false},
        {"40 % of a 50 % share", 0, 50, 0, {10, 10, 6, 4, 0}, true},
        {"30 % of a 50 % share", 0, 50, 0, {10, 10, 7, 3, 0}, false},
        {"no threshold", 0, 0, 0, {10, 10, 1, 9, 0}, false},
    };
    for (const auto& c : cases) {
        struRolloutPlan p = plan(2);
        p.pauseAtFailures = c.failures;
        p.pauseAtFailurePercent = c.failurePercent;
        p.failuresAccepted = c.accepted;
        EXPECT_EQ(RolloutPlanRules::nearPause(p, c.open), c.near) << c.name;
    }
    const StageProgress done{5, 5, 4, 1, 0}, underWay{5, 5, 3, 1, 0}, waiting{5, 4, 4, 0, 1};
    const QVector<StageProgress> finished(4, done);
    EXPECT_TRUE(RolloutPlanRules::finished(plan(4), finished));
    EXPECT_FALSE(RolloutPlanRules::finished(plan(3), finished)) << "a stage still closed";
    EXPECT_FALSE(RolloutPlanRules::finished(plan(4, kRolloutPaused), finished));
    EXPECT_FALSE(RolloutPlanRules::finished(plan(4), {done, done, done, underWay}));
    EXPECT_FALSE(RolloutPlanRules::finished(plan(4), {done, waiting, done, done}));
}

TEST(RolloutPlanRules, ChangesOfStateKeepWhatTheyMust) {
    const struRolloutPlan resumed =
        RolloutPlanRules::resumed(RolloutPlanRules::paused(plan(2), 1500, "why"), 1600, 4);
    EXPECT_EQ(resumed.state, kRolloutRunning);
    EXPECT_EQ(resumed.failuresAccepted, 4);
    EXPECT_EQ(resumed.openStages, 2);

    const struRolloutPlan advanced = RolloutPlanRules::advanced(resumed, 1700);
    EXPECT_EQ(advanced.openStages, 3);
    EXPECT_EQ(advanced.stages.at(2).openedAt, 1700);
    EXPECT_EQ(advanced.failuresAccepted, 0);  // a new open stage starts with none
    EXPECT_EQ(RolloutPlanRules::advanced(plan(4), 1700).openStages, 4);

    // Another upload for the package row starts from the first stage, whatever its state.
    const struRolloutPlan restarted =
        RolloutPlanRules::started(RolloutPlanRules::cancelled(advanced, 1800), "new.bin", 1900);
    EXPECT_EQ(restarted.state, kRolloutRunning);
    EXPECT_EQ(restarted.packageName, "new.bin");
    EXPECT_EQ(restarted.openStages, 1);
    EXPECT_EQ(restarted.stages.at(0).openedAt, 1900);
    EXPECT_EQ(restarted.stages.at(2).openedAt, 0);
}

TEST(RolloutBucket, StableAcrossProcessesAndSpreadEvenly) {
    // Fixed values: a hash seeded per process, or another key, would move terminals between the
    // stages of a rollout under way when the service restarts or is upgraded.
    EXPECT_EQ(rolloutBucket(package(1, "pkg.bin"), "SN0001"), 4970);
    EXPECT_EQ(rolloutBucket(package(1, "pkg.bin"), "SN0002"), 3721);
    EXPECT_EQ(rolloutBucket(package(2, "pkg.bin"), "SN0001"), 8923);

    const struPackageInfo p = package(7, "20240101_app.bin");
    int within[3] = {};
    const int limits[3] = {100, 1000, 5000};
    const int terminals = 20000;
    for (int i = 0; i < terminals; ++i) {
        const int bucket = rolloutBucket(p, QStringLiteral("SN%1").arg(i, 6, 10, QLatin1Char('0')));
        ASSERT_GE(bucket, 0);
        ASSERT_LT(bucket, kRolloutBuckets);
        for (int k = 0; k < 3; ++k) within[k] += bucket < limits[k];
    }
    // 1 %, 10 % and 50 % of sequential serial numbers, each within a few standard deviations.
    EXPECT_NEAR(within[0], 200, 45);
    EXPECT_NEAR(within[1], 2000, 130);
    EXPECT_NEAR(within[2], 10000, 220);
}
