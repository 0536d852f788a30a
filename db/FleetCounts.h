#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Counts over the whole fleet in the shared database, each a grouped statement the database
// answers without handing out rows of terminals: the dashboard's, and the cluster-wide gauges'.
class FleetCounts {
  public:
    struct Version {
        QString devType;
        QString component;  // a kComponentVersions name
        QString version;
        int terminals = 0;
    };
    struct Day {
        qint64 day = 0;  // days since the epoch in the caller's time zone
        int started = 0;
        int succeeded = 0;
        int failed = 0;  // reverted
    };

    // Per device type and component, most terminals first.
    static bool versions(QList<Version>& versions);
    // Upgrade attempts started from `since` on, per day; utcOffset (seconds east of UTC) says
    // where a day begins.
    static bool upgradesPerDay(qint32 since, qint32 utcOffset, QList<Day>& days);
    static bool terminals(int& online, int& total);
    // Terminals with a configuration command waiting, and with a file request waiting.
    static bool pendingRequests(int& commands, int& files);
    // Rollout plans per state.
    static bool rolloutStates(QList<QPair<QString, int>>& states);
};
