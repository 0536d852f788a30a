#include "device/PresenceLease.h"

#include <QDateTime>
#include <QStringList>

#include "core/Logger.h"
#include "db/Tab_InstanceLease.h"

PresenceLease::PresenceLease(QString instance, double leaseSeconds, QObject* parent)
    : QObject(parent),
      m_instance(std::move(instance)),
      m_leaseMs(static_cast<qint64>(leaseSeconds * 1000)) {
    m_timer.setInterval(static_cast<int>(qMax<qint64>(1, m_leaseMs / 3)));
    connect(&m_timer, &QTimer::timeout, this, &PresenceLease::renew);
}

void PresenceLease::start() {
    renew();
    m_timer.start();
}

void PresenceLease::renew() {
    const auto log = getLogger("PresenceLease");
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    // Rounded up: a lease shorter than a second still outlives the next renewal.
    const qint64 expiresAt = (nowMs + m_leaseMs + 999) / 1000;
    const qint64 now = nowMs / 1000;
    if (!Tab_InstanceLease::renew(m_instance, expiresAt)) {
        if (m_standing != Standing::Lost)
            log->warn("PresenceLease::renew, lease of {} not renewed", m_instance.toStdString());
        m_standing = Standing::Lost;
        return;
    }
    if (m_standing != Standing::Held) {
        if (m_standing == Standing::Lost)
            log->info("PresenceLease::renew, lease of {} renewed again", m_instance.toStdString());
        m_judgeFromMs = nowMs + m_leaseMs;
        m_standing = Standing::Held;
    }
    int cleared = 0;
    if (nowMs >= m_judgeFromMs && Tab_InstanceLease::clearExpired(m_instance, now, cleared) &&
        cleared > 0)
        log->info("PresenceLease::renew, {} presence rows of instances whose lease ran out cleared",
                  cleared);
    QStringList live;
    if (!Tab_InstanceLease::live(now, live)) return;
    m_reporter.store(live.isEmpty() || live.first() == m_instance, std::memory_order_relaxed);
}
