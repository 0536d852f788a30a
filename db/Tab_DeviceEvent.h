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
    // PostgreSQL: parts of a WITH that record events, of any terminals and in their order, from
    // the JSON array bound at its one mark (json()), keeping each terminal's newest
    // kKeptPerTerminal: "ev as (...),t as (...)", then the insert (read from ev), a statement or
    // a part of its own.
    static QString readAndTrimParts();
    static QString insertPart();
    static QString json(const QList<struDeviceEvent>& events);
    // Newest first; total is the count of the terminal's events.
    static bool page(const QString& devSN, int offset, int limit, QList<struDeviceEvent>& events,
                     qint64& total);
};
