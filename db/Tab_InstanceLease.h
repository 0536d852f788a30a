#pragma once

#include <QString>
#include <QStringList>

// Tab_InstanceLease: a row per instance of the service on the database, with the time its lease
// runs out. A live instance renews its own; an instance that died leaves its terminals' presence
// rows behind, and the others clear them once its lease has run out. Times are seconds since the
// epoch; instances' clocks are assumed to agree within a small part of the lease.
class Tab_InstanceLease {
  public:
    static bool renew(const QString& instance, qint64 expiresAt);
    // Deletes the presence rows of every other instance whose lease ran out before now; cleared
    // receives how many went.
    static bool clearExpired(const QString& instance, qint64 now, int& cleared);
    // The instances whose lease holds at now, in name order.
    static bool live(qint64 now, QStringList& instances);
};
