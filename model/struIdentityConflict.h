#pragma once

#include <QString>

// The last report refused because its device ID was not the one the serial number is pinned
// to: the row of Tab_IdentityConflict, one per serial number. Kept apart from the terminal's
// upgrade decision, which only the terminal's own reports set.
struct struIdentityConflict {
    QString devSN;
    qint32 conflictAt = 0;  // seconds since the epoch
    QString devId;          // the device ID reported
    QString address;        // "address:port" it came from
};
