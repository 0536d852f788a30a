#pragma once

#include <QString>

// A connected terminal: the row of Tab_DevicePresence while its connection lasts.
struct struDevicePresence {
    QString devSN;
    QString instance;           // the service instance holding the connection
    qint32 connectedSince = 0;  // seconds since the epoch
    qint32 lastReport = 0;
    QString peerAddress;  // "address:port"
};
