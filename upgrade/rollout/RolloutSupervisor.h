#pragma once

#include <atomic>

#include <QFuture>
#include <QObject>
#include <QTimer>

#include "upgrade/rollout/RolloutControl.h"

// Looks at every rollout plan at a fixed interval, on the thread pool (counting a stage reads
// every terminal of its type): stores restarts for new uploads, pauses a stage whose failures
// reach the plan's threshold and opens the next stage when the open one has proved itself.
class RolloutSupervisor : public QObject {
    Q_OBJECT
  public:
    // stallMinutes: an attempt without progress for this long counts as failed.
    RolloutSupervisor(double intervalSeconds, double stallMinutes, QObject* parent = nullptr);
    // Waits for a look still running: it works on this object from a pool thread.
    ~RolloutSupervisor() override;

    // Set before start(); called from the pool thread.
    void setAudit(RolloutControl::AuditHook audit) { m_audit = std::move(audit); }
    // Set before start(); used from the pool thread.
    void setNotices(RolloutNotices* notices) { m_notices = notices; }
    void start();

  private:
    void look();

    QTimer m_timer;
    double m_stallMinutes;
    RolloutControl::AuditHook m_audit;
    RolloutNotices* m_notices = nullptr;
    std::atomic<bool> m_looking{false};  // one look at a time; a slow one skips the next tick
    QFuture<void> m_look;                // the latest look; main thread only
};
