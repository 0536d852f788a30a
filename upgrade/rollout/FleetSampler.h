#pragma once

#include <atomic>

#include <QFuture>
#include <QObject>
#include <QTimer>

// Takes the fleet's counts once per period for the dashboard's charts over time: terminals
// online, and each running rollout's terminals succeeded and failed. A period's row is written
// by whichever instance samples it first, so every instance shows the same history; samples
// older than the days kept are removed. Counting runs on the thread pool.
class FleetSampler : public QObject {
    Q_OBJECT
  public:
    // stallMinutes: an attempt without progress for this long counts as failed.
    FleetSampler(double periodSeconds, double keepDays, double stallMinutes,
                 QObject* parent = nullptr);
    // Waits for a sample still being taken.
    ~FleetSampler() override;

    // Samples at once, then at every period.
    void start();

  private:
    void sample();

    QTimer m_timer;
    qint32 m_period;
    qint32 m_keepSeconds;
    qint32 m_stallSeconds;
    std::atomic<bool> m_sampling{false};
    QFuture<void> m_sample;
};
