#pragma once

#include <QList>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struDeviceEvent.h"
#include "model/struDeviceInfo.h"
#include "model/struDevicePresence.h"

// Tab_DevicePresence: a row per connected terminal, keyed by serial number and naming the
// service instance that holds its connection. Holds no state; every operation borrows a pooled
// connection.
class Tab_DevicePresence {
  public:
    static const RecordColumns<struDevicePresence>& columns();

    // An accepted report: the terminal's presence row is written (its last report time goes in
    // Tab_DeviceInfo with the report's own columns).
    static bool recordReport(const struDevicePresence& presence);
    // The connection of event's terminal has gone: its row leaves (one another instance took
    // over since stays) and the event goes in the terminal's timeline; one statement on
    // PostgreSQL, where each is a round trip.
    static bool depart(const QString& instance, const struDeviceEvent& event);
    // The rows an earlier run of this instance left behind.
    static bool clearInstance(const QString& instance);
    // False when the terminal is not connected (or the lookup failed).
    static bool get(const QString& devSN, struDevicePresence& presence);
    // The connected terminals, on any instance, whose current upgrade reported progress on
    // their present connection, in the order they connected: their rows with upgradeProgress
    // and progressReported set.
    static bool upgradeProgress(QList<struDeviceInfo>& devices);
};
