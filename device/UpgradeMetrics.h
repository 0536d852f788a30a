#pragma once

#include <mutex>

#include <QHash>
#include <QString>

#include "core/KeyedCounters.h"

class MetricsRegistry;

// Upgrades handed out and completed, per package (its id and name: packages are few, and past
// a bound further ones share one series). A completion is counted for the attempt this
// process started, also when the terminal reports it on a later connection.
class UpgradeMetrics {
  public:
    explicit UpgradeMetrics(MetricsRegistry& registry);

    void started(const QString& devSN, qint32 packageId, const QString& packageName);
    void progressed(const QString& devSN, int percent);

  private:
    KeyedCounters m_started;
    KeyedCounters m_completed;
    std::mutex m_mutex;  // guards m_open
    // The completion counter of each terminal's open attempt, by serial number.
    QHash<QString, prometheus::Counter*> m_open;
};
