#pragma once

#include <atomic>

#include <QObject>
#include <QString>
#include <QTimer>

// This instance's lease on the shared database, renewed every third of its length on the thread
// that owns it; each renewal also clears the presence rows of instances whose lease ran out, as
// an instance killed or cut off never says its terminals left. The first live instance by name
// reports the cluster-wide gauges, so that a sum over the instances counts them once.
class PresenceLease : public QObject {
    Q_OBJECT
  public:
    PresenceLease(QString instance, double leaseSeconds, QObject* parent = nullptr);

    // Renews at once, then on the timer.
    void start();
    // One renewal with its clearing.
    void renew();
    // Any thread. True until the lease table says otherwise, so that a lone instance reports.
    bool reportsClusterGauges() const { return m_reporter.load(std::memory_order_relaxed); }

  private:
    const QString m_instance;
    const qint64 m_leaseMs;
    QTimer m_timer;
    std::atomic<bool> m_reporter{true};
    // Lost: the last renewal failed (logged once until one succeeds).
    enum class Standing { New, Held, Lost } m_standing = Standing::New;
    // Others are judged only once this instance has held its lease a whole lease time: after a
    // database outage every lease has run out, and the others need their turn to renew.
    qint64 m_judgeFromMs = 0;
};
