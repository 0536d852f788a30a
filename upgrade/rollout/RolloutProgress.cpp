#include "upgrade/rollout/RolloutProgress.h"

#include "db/RolloutQuery.h"
#include "upgrade/UpgradeRules.h"
#include "upgrade/rollout/RolloutBucket.h"
#include "upgrade/rollout/RolloutPlanRules.h"

bool RolloutProgress::count(const struRolloutPlan& plan, const struPackageInfo& package,
                            qint32 stalledBefore, QVector<StageProgress>& stages, int& outside) {
    QVector<StageProgress> counted(plan.stages.size());
    int unstaged = 0;
    const bool ok = RolloutQuery::forEach(
        package, stalledBefore,
        [&](const RolloutQuery::Terminal& t) {
            const int stage = RolloutPlanRules::stageOf(
                plan, rolloutBucket(package, t.device.devSN), t.listedPosition);
            if (stage == 0) {
                ++unstaged;
                return;
            }
            StageProgress& s = counted[stage - 1];
            ++s.members;
            const bool stalled = t.hasAttempt && t.attempt == UpgradeAttemptState::Stalled;
            if (t.succeeded)
                ++s.succeeded;
            else if (t.reverted || stalled)
                ++s.failed;
            if (t.hasAttempt || t.succeeded || t.reverted)
                ++s.attempted;
            else if (packageHasNewerComponent(t.device, package))
                ++s.waiting;
        },
        true);
    if (!ok) return false;
    stages = counted;
    outside = unstaged;
    return true;
}
