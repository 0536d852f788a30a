// Where a terminal stands in a package's rollout: the upgrade decision applied to what is
// stored about it, one row per case.
#include <gtest/gtest.h>

#include "upgrade/rollout/RolloutState.h"

namespace {
const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

enum class Attempt { None, Running, Stalled, Completed, Reverted };

struct Case {
    const char* name;
    QString app;  // the terminal's App version; the package carries kNew
    bool forced;
    bool online;
    Attempt attempt;
    bool manual;
    bool fileExists;
    RolloutState expected;
    bool planHolds = false;  // the rollout plan does not let it be offered now
};
}  // namespace

TEST(RolloutState, Table) {
    using S = RolloutState;
    const Case cases[] = {
        {"equal, idle", kNew, false, true, Attempt::None, false, true, S::OnVersion},
        {"newer than the package", "V6.0", false, false, Attempt::None, false, true, S::OnVersion},
        {"behind, connected", kOld, false, true, Attempt::None, false, true, S::WouldUpgrade},
        {"behind, away", kOld, false, false, Attempt::None, false, true, S::Offline},
        {"behind, manual mode", kOld, false, true, Attempt::None, true, true, S::Held},
        {"forced beats manual mode", kOld, true, true, Attempt::None, true, true, S::WouldUpgrade},
        {"forced on version", kNew, true, true, Attempt::None, false, true, S::WouldUpgrade},
        {"forced, away", kNew, true, false, Attempt::None, false, true, S::Offline},
        {"behind, no package file", kOld, false, true, Attempt::None, false, false, S::Held},
        {"behind, the plan holds it", kOld, false, true, Attempt::None, false, true, S::Held, true},
        {"forced beats the plan", kOld, true, true, Attempt::None, false, true, S::WouldUpgrade,
         true},
        {"empty version is never behind", "", false, true, Attempt::None, false, true,
         S::OnVersion},
        {"downloading", kOld, false, true, Attempt::Running, false, true, S::Downloading},
        {"downloading, connection gone", kOld, false, false, Attempt::Running, false, true,
         S::Downloading},
        {"stalled", kOld, false, false, Attempt::Stalled, false, true, S::Stalled},
        {"100 reported, old versions", kOld, false, false, Attempt::Completed, false, true,
         S::Installing},
        {"100 reported, new versions", kNew, false, true, Attempt::Completed, false, true, S::Done},
        {"back on old versions after 100", kOld, false, true, Attempt::Reverted, false, true,
         S::WouldUpgrade},
    };
    struPackageInfo package;
    package.AppVersion = kNew;
    for (const Case& c : cases) {
        RolloutQuery::Terminal terminal;
        terminal.device.AppVersion = c.app;
        terminal.device.isAutoUpdate = c.forced;
        terminal.online = c.online;
        terminal.hasAttempt = c.attempt != Attempt::None;
        const UpgradeAttemptState states[] = {
            UpgradeAttemptState::Running, UpgradeAttemptState::Running,
            UpgradeAttemptState::Stalled, UpgradeAttemptState::Completed,
            UpgradeAttemptState::Reverted};
        terminal.attempt = states[static_cast<int>(c.attempt)];
        RolloutRules rules;
        rules.manualMode = c.manual;
        rules.packageFileExists = c.fileExists;
        if (c.planHolds) rules.planAllows = [](const RolloutQuery::Terminal&) { return false; };
        EXPECT_EQ(rolloutStateName(rolloutState(terminal, package, rules)),
                  std::string(rolloutStateName(c.expected)))
            << c.name;
    }
}
