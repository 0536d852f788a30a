#pragma once

#include <QList>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struDeviceEvent.h"

// Tab_DeviceEvent: each terminal's timeline, at most kKeptPerTerminal events each. Holds no
// state; every operation borrows a pooled connection.
class Tab_DeviceEvent {
  public:
    static constexpr int kKeptPerTerminal = 200;

    static const RecordColumns<struDeviceEvent>& columns();

    // Adds the event and drops the terminal's events beyond the newest kKeptPerTerminal.
    static bool record(const struDeviceEvent& event);
    // Newest first; total is the count of the terminal's events.
    static bool page(const QString& devSN, int offset, int limit, QList<struDeviceEvent>& events,
                     qint64& total);
};
