#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Which terminals a device list, a bulk edit or an export takes: every condition set must hold.
struct DeviceFilter {
    enum class Online { Any, Yes, No };
    // Requests waiting for the terminal's next report.
    enum class Pending { Any, Forced, Command, File, Some, None };
    // By the terminal's current upgrade attempt.
    enum class Upgrade { Any, None, Running, Stalled, Completed };

    QString q;  // substring of serial number, plate, phone number, device ID or type
    // False: q must match in a column other than the device ID, for a caller who may not learn
    // device IDs by guessing at them.
    bool searchDeviceId = true;
    QList<QPair<int, QString>> equal;     // stored column (Tab_DeviceInfo::columns()) and value
    QList<QPair<int, QString>> notEqual;  // a missing value counts as different
    Online online = Online::Any;
    Pending pending = Pending::Any;
    Upgrade upgrade = Upgrade::Any;
    qint32 stalledBefore = 0;  // attempts silent since then count as stalled
    bool bySerials = false;    // only the serial numbers listed
    QStringList serials;
};
