#include "upgrade/rollout/RolloutNotices.h"

#include "db/Tab_Package.h"
#include "db/Tab_UpgradeAttempt.h"
#include "upgrade/rollout/RolloutPlanRules.h"

namespace {
QJsonObject about(const struPackageInfo& package, const struRolloutPlan& plan) {
    return QJsonObject{{"packageId", package.id},
                       {"packageName", package.packageName},
                       {"deviceType", package.deviceType},
                       {"stage", plan.openStages},
                       {"stages", plan.stages.size()}};
}
}  // namespace

void RolloutNotices::changed(const struPackageInfo& package, const struRolloutPlan& before,
                             const struRolloutPlan& after) {
    if (after.state == QLatin1String(kRolloutPaused) &&
        before.state != QLatin1String(kRolloutPaused)) {
        QJsonObject data = about(package, after);
        data.insert("reason", after.pauseReason);
        m_notifier.notify(NotifyEvent::RolloutPaused, data);
    }
    if (after.openStages > before.openStages && before.packageName == after.packageName)
        m_notifier.notify(NotifyEvent::StageOpened, about(package, after));
}

void RolloutNotices::looked(const struPackageInfo& package, const struRolloutPlan& plan,
                            const QVector<StageProgress>& stages) {
    if (m_speaks && !m_speaks()) return;
    const QString run =
        QStringLiteral("%1/%2/%3").arg(package.id).arg(plan.packageName).arg(plan.createdAt);
    const StageProgress open = stages.value(plan.openStages - 1);
    struct Notice {
        bool holds;
        NotifyEvent event;
        QString key;
    };
    const Notice notices[] = {
        {RolloutPlanRules::nearPause(plan, open), NotifyEvent::FailureThresholdNear,
         QStringLiteral("near/%1/%2/%3").arg(run).arg(plan.openStages).arg(plan.failuresAccepted)},
        {RolloutPlanRules::finished(plan, stages), NotifyEvent::PlanFinished,
         QStringLiteral("finished/%1").arg(run)},
    };
    for (const Notice& notice : notices) {
        if (!notice.holds) continue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_told.contains(notice.key)) continue;
            m_told.insert(notice.key);
        }
        QJsonObject data = about(package, plan);
        data.insert("attempted", open.attempted);
        data.insert("succeeded", open.succeeded);
        data.insert("failed", open.failed - plan.failuresAccepted);
        data.insert("pauseAtFailures", plan.pauseAtFailures);
        data.insert("pauseAtFailurePercent", plan.pauseAtFailurePercent);
        m_notifier.notify(notice.event, data);
    }
}

void RolloutNotices::countStalled(qint32 stalledBefore) {
    if (m_speaks && !m_speaks()) return;
    QList<struPackageInfo> packages;
    if (!Tab_Package().getAllPackages(packages)) return;
    Tab_UpgradeAttempt::Filter filter;
    filter.byState = true;
    filter.state = UpgradeAttemptState::Stalled;
    filter.stalledBefore = stalledBefore;
    for (const struPackageInfo& package : packages) {
        filter.packageId = package.id;
        QList<Tab_UpgradeAttempt::Row> none;
        int stalled = 0;
        if (!Tab_UpgradeAttempt::list(filter, 0, 0, none, stalled)) continue;
        int before = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            before = m_stalled.value(package.id);
            m_stalled.insert(package.id, stalled);
        }
        if (stalled <= before) continue;
        m_notifier.notify(NotifyEvent::TerminalsStalled,
                          QJsonObject{{"packageId", package.id},
                                      {"packageName", package.packageName},
                                      {"deviceType", package.deviceType},
                                      {"stalled", stalled},
                                      {"newlyStalled", stalled - before}});
    }
}
