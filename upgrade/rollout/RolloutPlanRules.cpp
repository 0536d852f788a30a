#include "upgrade/rollout/RolloutPlanRules.h"

int RolloutPlanRules::stageOf(const struRolloutPlan& plan, int bucket, int listedPosition) {
    for (const struRolloutStage& stage : plan.stages) {
        const bool listed = stage.sharePoints == 0 && stage.position == listedPosition;
        if (listed || bucket < stage.sharePoints) return stage.position;
    }
    return 0;
}

bool RolloutPlanRules::offers(const struRolloutPlan& plan, int stage) {
    return plan.state == QLatin1String(kRolloutRunning) && stage >= 1 && stage <= plan.openStages;
}

RolloutPlanRules::Step RolloutPlanRules::next(const struRolloutPlan& plan,
                                              const StageProgress& open, qint32 now,
                                              QString& reason) {
    if (plan.state != QLatin1String(kRolloutRunning) || plan.openStages < 1 ||
        plan.openStages > plan.stages.size())
        return Step::None;
    const int fresh = open.failed - plan.failuresAccepted;
    const bool byCount = plan.pauseAtFailures > 0 && fresh >= plan.pauseAtFailures;
    const bool byShare = plan.pauseAtFailurePercent > 0 &&
                         fresh * 100 >= plan.pauseAtFailurePercent * open.attempted;
    if (fresh > 0 && (byCount || byShare)) {
        reason = QStringLiteral("第%1阶段失败%2台（已尝试%3台），达到暂停条件：%4")
                     .arg(plan.openStages)
                     .arg(open.failed)
                     .arg(open.attempted)
                     .arg(byCount ? QStringLiteral("失败%1台").arg(plan.pauseAtFailures)
                                  : QStringLiteral("失败比例%1%").arg(plan.pauseAtFailurePercent));
        return Step::Pause;
    }
    if (plan.openStages == plan.stages.size()) return Step::None;
    const struRolloutStage& stage = plan.stages.at(plan.openStages - 1);
    if (now - stage.openedAt < stage.minSeconds) return Step::None;
    const bool proven = open.attempted > 0
                            ? open.succeeded * 100 >= stage.successPercent * open.attempted
                            : open.waiting == 0;
    return proven ? Step::Advance : Step::None;
}

bool RolloutPlanRules::nearPause(const struRolloutPlan& plan, const StageProgress& open) {
    QString reason;
    if (plan.state != QLatin1String(kRolloutRunning) ||
        next(plan, open, plan.changedAt, reason) == Step::Pause)
        return false;
    const int fresh = open.failed - plan.failuresAccepted;
    const int near = kNearPausePercent;
    return fresh > 0 && ((plan.pauseAtFailures > 0 && fresh * 100 >= near * plan.pauseAtFailures) ||
                         (plan.pauseAtFailurePercent > 0 &&
                          fresh * 100 * 100 >= near * plan.pauseAtFailurePercent * open.attempted));
}

bool RolloutPlanRules::finished(const struRolloutPlan& plan, const QVector<StageProgress>& stages) {
    if (plan.state != QLatin1String(kRolloutRunning) || plan.openStages < plan.stages.size())
        return false;
    for (const StageProgress& stage : stages)
        if (stage.waiting > 0 || stage.attempted > stage.succeeded + stage.failed) return false;
    return true;
}

struRolloutPlan RolloutPlanRules::started(struRolloutPlan plan, const QString& packageName,
                                          qint32 now) {
    plan.packageName = packageName;
    plan.state = QLatin1String(kRolloutRunning);
    plan.openStages = 1;
    plan.failuresAccepted = 0;
    plan.pausedAt = 0;
    plan.pauseReason.clear();
    plan.changedAt = now;
    for (struRolloutStage& stage : plan.stages) stage.openedAt = stage.position == 1 ? now : 0;
    return plan;
}

struRolloutPlan RolloutPlanRules::advanced(struRolloutPlan plan, qint32 now) {
    if (plan.openStages >= plan.stages.size()) return plan;
    plan.stages[plan.openStages].openedAt = now;
    ++plan.openStages;
    plan.failuresAccepted = 0;
    plan.changedAt = now;
    return plan;
}

struRolloutPlan RolloutPlanRules::paused(struRolloutPlan plan, qint32 now, const QString& reason) {
    plan.state = QLatin1String(kRolloutPaused);
    plan.pausedAt = now;
    plan.pauseReason = reason;
    plan.changedAt = now;
    return plan;
}

struRolloutPlan RolloutPlanRules::resumed(struRolloutPlan plan, qint32 now, int failuresNow) {
    plan.state = QLatin1String(kRolloutRunning);
    plan.failuresAccepted = failuresNow;
    plan.changedAt = now;
    return plan;
}

struRolloutPlan RolloutPlanRules::cancelled(struRolloutPlan plan, qint32 now) {
    plan.state = QLatin1String(kRolloutCancelled);
    plan.changedAt = now;
    return plan;
}
