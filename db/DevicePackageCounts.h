#pragma once

#include <QList>

#include "db/DeviceFilter.h"

// How many of the terminals a filter takes each current package would reach, counted by the
// database in one grouped statement so that a fleet of any size costs one pass and no rows.
class DevicePackageCounts {
  public:
    struct Group {
        qint32 packageId = 0;  // 0: no package for the terminals' type
        int matched = 0;
        int online = 0;
        // Every component the package carries equals the one the terminal reported.
        int onVersion = 0;
    };

    static bool count(const DeviceFilter& filter, QList<Group>& groups);
};
