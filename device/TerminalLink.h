#pragma once

#include <QHash>
#include <QString>

#include "device/DeviceFileTransfer.h"

// What the message handler knows of one terminal connection besides its online record; used on
// the main thread only.
struct TerminalLink {
    QString peer;     // "address:port", for the log
    QString address;  // the terminal's address alone, for the registration limits
    QString devSN;    // the serial number the connection identified itself with
    // Reported a serial number pinned to another device ID: nothing it sends is accepted.
    bool impostor = false;
    // Asked to be closed: nothing more it sends is handled.
    bool closing = false;
    // Registered its serial number on this connection and has not yet answered an upgrade
    // offered on it: at the connection limit a known terminal takes its place.
    bool unproven = false;
    bool upgradeOffered = false;
    QString sentCommand;  // the command sent on this connection and not yet confirmed
    QHash<quint32, DeviceFileTransfer> transfers;  // the file types requested, by type
};
