#include "upgrade/rollout/RolloutPreview.h"

#include <QHash>

#include "db/RolloutQuery.h"
#include "model/ComponentVersions.h"
#include "upgrade/UpgradeRules.h"
#include "upgrade/rollout/RolloutBucket.h"
#include "upgrade/rollout/RolloutPlanRules.h"

namespace {
bool onVersion(const struDeviceInfo& device, const struPackageInfo& package) {
    for (const ComponentVersion& component : kComponentVersions) {
        const QString& version = package.*component.package;
        if (!version.isEmpty() && version != device.*component.device) return false;
    }
    return true;
}
}  // namespace

bool RolloutPreview::count(const struRolloutPlan& plan, const QList<QPair<QString, int>>& listed,
                           const struPackageInfo& package, QVector<StagePreview>& stages) {
    // A serial number listed twice belongs to its first stage, as a stored plan places it.
    QHash<QString, int> position;
    for (const auto& entry : listed) {
        const auto it = position.find(entry.first);
        if (it == position.end() || entry.second < it.value()) position[entry.first] = entry.second;
    }
    QVector<StagePreview> counted(plan.stages.size() + 1);
    const bool ok = RolloutQuery::forEach(package, 0, [&](const RolloutQuery::Terminal& t) {
        const int stage = RolloutPlanRules::stageOf(plan, rolloutBucket(package, t.device.devSN),
                                                    position.value(t.device.devSN));
        StagePreview& s = counted[stage == 0 ? plan.stages.size() : stage - 1];
        ++s.members;
        if (t.online) ++s.online;
        if (onVersion(t.device, package)) ++s.onVersion;
        if (packageHasNewerComponent(t.device, package)) ++s.behind;
    });
    if (!ok) return false;
    stages = counted;
    return true;
}
