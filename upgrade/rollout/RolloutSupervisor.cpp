#include "upgrade/rollout/RolloutSupervisor.h"

#include <QDateTime>
#include <QtConcurrent>

#include "db/Tab_RolloutPlan.h"
#include "upgrade/rollout/RolloutNotices.h"

RolloutSupervisor::RolloutSupervisor(double intervalSeconds, double stallMinutes, QObject* parent)
    : QObject(parent), m_stallMinutes(stallMinutes) {
    m_timer.setInterval(static_cast<int>(intervalSeconds * 1000));
    connect(&m_timer, &QTimer::timeout, this, &RolloutSupervisor::look);
}

RolloutSupervisor::~RolloutSupervisor() {
    m_timer.stop();
    m_look.waitForFinished();
}

void RolloutSupervisor::start() {
    m_timer.start();
}

void RolloutSupervisor::look() {
    if (m_looking.exchange(true)) return;
    const auto stall = static_cast<qint64>(m_stallMinutes * 60);
    const RolloutControl::AuditHook audit = m_audit;
    RolloutNotices* notices = m_notices;
    m_look = QtConcurrent::run([this, stall, audit, notices] {
        const auto stalledBefore = static_cast<qint32>(QDateTime::currentSecsSinceEpoch() - stall);
        QList<qint32> packageIds;
        if (Tab_RolloutPlan::packageIds(packageIds)) {
            for (qint32 packageId : packageIds)
                RolloutControl::supervise(packageId, stalledBefore, audit, notices);
        }
        if (notices) notices->countStalled(stalledBefore);
        m_looking = false;
    });
}
