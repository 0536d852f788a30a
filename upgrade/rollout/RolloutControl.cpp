#include "upgrade/rollout/RolloutControl.h"

#include <algorithm>

#include <QDateTime>

#include "core/Logger.h"
#include "db/Tab_Package.h"
#include "db/Tab_RetryRelease.h"
#include "upgrade/rollout/RolloutBucket.h"
#include "upgrade/rollout/RolloutNotices.h"
#include "upgrade/rollout/RolloutPlanRules.h"
#include "upgrade/rollout/RolloutProgress.h"
#include "upgrade/rollout/RolloutSchedule.h"

namespace {
using Result = RolloutControl::Result;

qint32 now() {
    return static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
}

std::shared_ptr<spdlog::logger> logger() {
    return getLogger("RolloutControl");
}

// The stored plan, and the plan as it stands for the package's current upload.
struct Loaded {
    struRolloutPlan stored;
    struRolloutPlan plan;
    bool restarted() const { return stored.packageName != plan.packageName; }
};

// A plan stored for an earlier upload of the package row starts again for the current one.
struRolloutPlan planFor(const struRolloutPlan& stored, const struPackageInfo& package, qint32 at) {
    return stored.packageName == package.packageName
               ? stored
               : RolloutPlanRules::started(stored, package.packageName, at);
}

Result load(const struPackageInfo& package, qint32 at, Loaded& loaded) {
    switch (Tab_RolloutPlan::load(package.id, loaded.stored)) {
        case Tab_RolloutPlan::Result::Missing:
            return Result::NoPlan;
        case Tab_RolloutPlan::Result::Failed:
            return Result::Failed;
        case Tab_RolloutPlan::Result::Done:
            break;
    }
    loaded.plan = planFor(loaded.stored, package, at);
    return Result::Done;
}

// The plan an operator may still move on; a cancelled one is a conflict, said in summary.
Result loadUncancelled(const struPackageInfo& package, Loaded& loaded, QString& summary) {
    const Result found = load(package, now(), loaded);
    if (found != Result::Done) return found;
    if (loaded.plan.state != QLatin1String(kRolloutCancelled)) return Result::Done;
    summary = QStringLiteral("发布已取消");
    return Result::Conflict;
}

Result write(const Loaded& loaded, const struRolloutPlan& after) {
    switch (Tab_RolloutPlan::change(loaded.stored, after)) {
        case Tab_RolloutPlan::Result::Done:
            return Result::Done;
        case Tab_RolloutPlan::Result::Missing:
            return Result::Conflict;
        case Tab_RolloutPlan::Result::Failed:
            break;
    }
    return Result::Failed;
}

QString packageText(const struPackageInfo& package) {
    return QStringLiteral("升级包 %1 (%2)").arg(package.id).arg(package.packageName);
}

RolloutVerdict planVerdict(const struPackageInfo& package, const QString& devSN) {
    using Kind = RolloutVerdict::Kind;
    struRolloutPlan plan;
    switch (RolloutControl::current(package, plan, now())) {
        case Tab_RolloutPlan::Result::Missing:
            return {Kind::NoPlan, QString()};
        case Tab_RolloutPlan::Result::Failed:
            return {Kind::Unavailable, QStringLiteral("发布计划读取失败")};
        case Tab_RolloutPlan::Result::Done:
            break;
    }
    if (plan.state == QLatin1String(kRolloutCancelled))
        return {Kind::Cancelled, QStringLiteral("发布已取消")};
    if (plan.state == QLatin1String(kRolloutPaused)) return {Kind::Paused, plan.pauseReason};
    int listed = 0;
    const bool lists = std::any_of(plan.stages.begin(), plan.stages.end(),
                                   [](const struRolloutStage& s) { return s.sharePoints == 0; });
    if (lists && !Tab_RolloutPlan::listedPosition(package.id, devSN, listed))
        return {Kind::Unavailable, QStringLiteral("发布计划读取失败")};
    const int stage = RolloutPlanRules::stageOf(plan, rolloutBucket(package, devSN), listed);
    if (!RolloutPlanRules::offers(plan, stage))
        return {
            Kind::NotInOpenStage,
            stage == 0
                ? QStringLiteral("不属于任何阶段")
                : QStringLiteral("属于第%1阶段，已开放%2个阶段").arg(stage).arg(plan.openStages)};
    const QDateTime local = QDateTime::currentDateTime();
    if (!RolloutSchedule::allows(plan, local))
        return {Kind::OutsideWindow, RolloutSchedule::why(plan, local)};
    return {Kind::Open, QStringLiteral("第%1阶段").arg(stage)};
}
}  // namespace

Tab_RolloutPlan::Result RolloutControl::current(const struPackageInfo& package,
                                                struRolloutPlan& plan, qint32 at) {
    struRolloutPlan stored;
    const Tab_RolloutPlan::Result result = Tab_RolloutPlan::load(package.id, stored);
    if (result == Tab_RolloutPlan::Result::Done) plan = planFor(stored, package, at);
    return result;
}

RolloutVerdict RolloutControl::verdict(const struPackageInfo& package, const QString& devSN,
                                       int retryLimit) {
    const RolloutVerdict verdict = planVerdict(package, devSN);
    if (!verdict.offers() || retryLimit <= 0) return verdict;
    int failures = 0;
    if (!Tab_RetryRelease::failures(package.id, package.packageName, devSN, failures))
        return {RolloutVerdict::Kind::Unavailable, QStringLiteral("重试次数读取失败")};
    if (failures < retryLimit) return verdict;
    return {RolloutVerdict::Kind::RetryLimit,
            QStringLiteral("安装未生效%1次，达到重试上限%2次，待操作员放行")
                .arg(failures)
                .arg(retryLimit)};
}

bool RolloutControl::replace(const struPackageInfo& package, const struRolloutPlan& plan,
                             const QList<QPair<QString, int>>& listed, const QString& by) {
    const qint32 at = now();
    struRolloutPlan fresh = RolloutPlanRules::started(plan, package.packageName, at);
    fresh.packageId = package.id;
    fresh.createdAt = at;
    fresh.createdBy = by;
    for (struRolloutStage& stage : fresh.stages) stage.packageId = package.id;
    if (!Tab_RolloutPlan::replace(fresh, listed)) return false;
    logger()->info("{}, plan of {} stages set by {} for {}", "RolloutControl::replace",
                   fresh.stages.size(), by.toStdString(), packageText(package).toStdString());
    return true;
}

Result RolloutControl::resume(const struPackageInfo& package, qint32 stalledBefore,
                              QString& summary) {
    Loaded loaded;
    const Result found = load(package, now(), loaded);
    if (found != Result::Done) return found;
    if (loaded.plan.state != QLatin1String(kRolloutPaused)) {
        summary = QStringLiteral("发布未暂停");
        return Result::Conflict;
    }
    QVector<StageProgress> stages;
    int outside = 0;
    if (!RolloutProgress::count(loaded.plan, package, stalledBefore, stages, outside))
        return Result::Failed;
    const int failed = stages.value(loaded.plan.openStages - 1).failed;
    const Result result = write(loaded, RolloutPlanRules::resumed(loaded.plan, now(), failed));
    summary = QStringLiteral("%1 恢复发布，第%2阶段已有失败%3台")
                  .arg(packageText(package))
                  .arg(loaded.plan.openStages)
                  .arg(failed);
    return result;
}

Result RolloutControl::advance(const struPackageInfo& package, QString& summary) {
    Loaded loaded;
    const Result found = loadUncancelled(package, loaded, summary);
    if (found != Result::Done) return found;
    if (loaded.plan.openStages >= loaded.plan.stages.size()) {
        summary = QStringLiteral("所有阶段均已开放");
        return Result::Conflict;
    }
    const struRolloutPlan after = RolloutPlanRules::advanced(loaded.plan, now());
    summary = QStringLiteral("%1 开放第%2阶段").arg(packageText(package)).arg(after.openStages);
    return write(loaded, after);
}

Result RolloutControl::cancel(const struPackageInfo& package, QString& summary) {
    Loaded loaded;
    const Result found = loadUncancelled(package, loaded, summary);
    if (found != Result::Done) return found;
    summary = QStringLiteral("%1 取消发布，已开放%2个阶段")
                  .arg(packageText(package))
                  .arg(loaded.plan.openStages);
    return write(loaded, RolloutPlanRules::cancelled(loaded.plan, now()));
}

Result RolloutControl::pause(const struPackageInfo& package, const QString& by, QString& summary) {
    Loaded loaded;
    const Result found = loadUncancelled(package, loaded, summary);
    if (found != Result::Done) return found;
    if (loaded.plan.state != QLatin1String(kRolloutRunning)) {
        summary = QStringLiteral("发布已暂停");
        return Result::Conflict;
    }
    const QString reason =
        by.isEmpty() ? QStringLiteral("操作员手动暂停") : QStringLiteral("%1 手动暂停").arg(by);
    summary = QStringLiteral("%1 手动暂停发布，已开放%2个阶段")
                  .arg(packageText(package))
                  .arg(loaded.plan.openStages);
    return write(loaded, RolloutPlanRules::paused(loaded.plan, now(), reason));
}

Result RolloutControl::schedule(const struPackageInfo& package, const QString& windows,
                                qint32 startAt, QString& summary) {
    Loaded loaded;
    const Result found = loadUncancelled(package, loaded, summary);
    if (found != Result::Done) return found;
    struRolloutPlan after = loaded.plan;
    after.windows = windows;
    after.startAt = startAt;
    after.changedAt = now();
    summary = QStringLiteral("%1 发布时段：%2；开始时间：%3")
                  .arg(packageText(package), windows.isEmpty() ? QStringLiteral("全天") : windows,
                       startAt > 0 ? QDateTime::fromSecsSinceEpoch(startAt).toString(Qt::ISODate)
                                   : QStringLiteral("立即"));
    return write(loaded, after);
}

Result RolloutControl::release(const struPackageInfo& package, const QString& devSN, int retryLimit,
                               int& released, QString& summary) {
    QList<Tab_RetryRelease::Held> held;
    if (!Tab_RetryRelease::held(package.id, package.packageName, qMax(retryLimit, 1), held))
        return Result::Failed;
    if (!devSN.isEmpty() &&
        std::none_of(held.begin(), held.end(),
                     [&devSN](const Tab_RetryRelease::Held& h) { return h.devSN == devSN; })) {
        summary = QStringLiteral("终端 %1 未因重试上限被扣留").arg(devSN);
        return Result::Conflict;
    }
    if (!Tab_RetryRelease::release(package.id, package.packageName, devSN, qMax(retryLimit, 1),
                                   now(), released))
        return Result::Failed;
    QStringList names;
    for (const Tab_RetryRelease::Held& h : held)
        if (devSN.isEmpty() || h.devSN == devSN) names << h.devSN;
    summary = QStringLiteral("%1 放行重试上限扣留的终端%2台：%3")
                  .arg(packageText(package))
                  .arg(released)
                  .arg(names.mid(0, 20).join(QStringLiteral(", ")) +
                       (names.size() > 20 ? QStringLiteral(" ...") : QString()));
    return Result::Done;
}

void RolloutControl::supervise(qint32 packageId, qint32 stalledBefore, const AuditHook& audit,
                               RolloutNotices* notices) {
    struPackageInfo package;
    if (!Tab_Package().getPackageById(packageId, package)) return;  // deleted: nothing to run
    const qint32 at = now();
    Loaded loaded;
    if (load(package, at, loaded) != Result::Done) return;
    struRolloutPlan after = loaded.plan;
    QString action;
    QString summary;
    if (loaded.restarted()) {
        // Stored on its own: the new upload's first stage is judged from the next look on.
        action = QStringLiteral("rollout_restart");
        summary =
            QStringLiteral("%1 为新上传的升级包，从第1阶段重新发布").arg(packageText(package));
    } else if (loaded.plan.state == QLatin1String(kRolloutRunning)) {
        QVector<StageProgress> stages;
        int outside = 0;
        if (!RolloutProgress::count(loaded.plan, package, stalledBefore, stages, outside)) return;
        QString reason;
        switch (RolloutPlanRules::next(loaded.plan, stages.value(loaded.plan.openStages - 1), at,
                                       reason)) {
            case RolloutPlanRules::Step::Pause:
                after = RolloutPlanRules::paused(loaded.plan, at, reason);
                action = QStringLiteral("rollout_pause");
                summary = QStringLiteral("%1 自动暂停：%2").arg(packageText(package), reason);
                break;
            case RolloutPlanRules::Step::Advance:
                after = RolloutPlanRules::advanced(loaded.plan, at);
                action = QStringLiteral("rollout_advance");
                summary = QStringLiteral("%1 自动开放第%2阶段")
                              .arg(packageText(package))
                              .arg(after.openStages);
                break;
            case RolloutPlanRules::Step::None:
                if (notices) notices->looked(package, loaded.plan, stages);
                break;
        }
    }
    if (action.isEmpty() || write(loaded, after) != Result::Done) return;
    logger()->warn("{}, {}: {}", "RolloutControl::supervise", action.toStdString(),
                   summary.toStdString());
    if (audit) audit(action, summary);
    if (notices) notices->changed(package, loaded.plan, after);
}
