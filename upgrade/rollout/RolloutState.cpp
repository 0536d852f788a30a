#include "upgrade/rollout/RolloutState.h"

#include <QString>

#include "upgrade/UpgradeRules.h"

namespace {
const char* const kNames[kRolloutStateCount] = {
    "onVersion", "wouldUpgrade", "held", "downloading", "installing", "done", "stalled", "offline"};
}  // namespace

const char* rolloutStateName(RolloutState state) {
    return kNames[static_cast<int>(state)];
}

bool rolloutStateFromName(const QString& name, RolloutState& state) {
    for (int i = 0; i < kRolloutStateCount; ++i) {
        if (name == QLatin1String(kNames[i])) {
            state = static_cast<RolloutState>(i);
            return true;
        }
    }
    return false;
}

RolloutState rolloutState(const RolloutQuery::Terminal& terminal, const struPackageInfo& package,
                          const RolloutRules& rules) {
    const bool behind = packageHasNewerComponent(terminal.device, package);
    if (terminal.hasAttempt) {
        switch (terminal.attempt) {
            case UpgradeAttemptState::Running:
                return RolloutState::Downloading;
            case UpgradeAttemptState::Stalled:
                return RolloutState::Stalled;
            case UpgradeAttemptState::Completed:
            case UpgradeAttemptState::Superseded:
                return behind ? RolloutState::Installing : RolloutState::Done;
            case UpgradeAttemptState::Reverted:
                break;  // its install did not take: it stands as if it had never been offered
        }
    }
    const bool forced = terminal.device.isAutoUpdate;
    if (!forced && !behind) return RolloutState::OnVersion;
    if (!terminal.online) return RolloutState::Offline;
    const bool answered = forced || (!rules.manualMode && behind &&
                                     (!rules.planAllows || rules.planAllows(terminal)) &&
                                     !rules.heldAtRetryLimit.contains(terminal.device.devSN));
    return answered && rules.packageFileExists ? RolloutState::WouldUpgrade : RolloutState::Held;
}
