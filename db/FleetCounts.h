#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Counts over the whole fleet in the shared database, for the cluster-wide gauges.
class FleetCounts {
  public:
    // Terminals with a configuration command waiting, and with a file request waiting.
    static bool pendingRequests(int& commands, int& files);
    // Rollout plans per state.
    static bool rolloutStates(QList<QPair<QString, int>>& states);
};
