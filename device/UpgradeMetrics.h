#pragma once

#include <mutex>

#include <QHash>
#include <QPair>
#include <QString>

#include "core/KeyedCounters.h"

class MetricsRegistry;

// Upgrades handed out and completed, per package (its id and name: packages are few, and past
// a bound further ones share one series). A completion is counted once the database stored it,
// for the attempt this process started, also when the terminal reports it on a later
// connection. An id that a later package takes over gets series of its own under its new name.
class UpgradeMetrics {
  public:
    explicit UpgradeMetrics(MetricsRegistry& registry);

    void started(const QString& devSN, qint32 packageId, const QString& packageName);
    // The database stored the completion of the terminal's current attempt.
    void completed(const QString& devSN);

  private:
    // The series key of a package under its name; m_mutex held.
    long long keyOf(qint32 packageId, const QString& packageName);

    KeyedCounters m_started;
    KeyedCounters m_completed;
    std::mutex m_mutex;  // guards m_open and m_keys
    // The completion counter of each terminal's open attempt, by serial number.
    QHash<QString, prometheus::Counter*> m_open;
    QHash<QPair<qint32, QString>, long long> m_keys;
};
