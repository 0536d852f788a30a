#pragma once

#include <QHash>
#include <QString>

#include "device/DeviceFileTransfer.h"

// What the message handler knows of one terminal connection besides its online record; used on
// the main thread only.
struct TerminalLink {
    QString peer;   // "address:port", for the log
    QString devSN;  // the serial number the connection identified itself with
    // Reported a serial number pinned to another device ID: nothing it sends is accepted.
    bool impostor = false;
    // Asked to be closed: nothing more it sends is handled.
    bool closing = false;
    QString sentCommand;  // the command sent on this connection and not yet confirmed
    QHash<quint32, DeviceFileTransfer> transfers;  // the file types requested, by type
};
