#pragma once

#include <QList>
#include <QString>

#include "db/RecordColumns.h"

class QSqlQuery;
#include "model/struDeviceEvent.h"

// Tab_DeviceEvent: each terminal's timeline, at most kKeptPerTerminal events each. Holds no
// state; every operation borrows a pooled connection.
class Tab_DeviceEvent {
  public:
    static constexpr int kKeptPerTerminal = 200;

    static const RecordColumns<struDeviceEvent>& columns();

    // Adds the event and drops the terminal's events beyond the newest kKeptPerTerminal.
    static bool record(const struDeviceEvent& event);
    // PostgreSQL: the two parts of a statement that records `count` events of one terminal, in
    // their order, each the body of a WITH (the trim sees the rows as they were before).
    static QString trimPart();
    static QString insertPart(int count);
    // Binds both parts for events (all of one terminal) from position first; the position after.
    static int bindParts(QSqlQuery& query, const QList<struDeviceEvent>& events, int first);
    // The same for many terminals' events, read from rows: a row set with the table's columns
    // and their order in "ordinality".
    static QString trimPartFrom(const QString& rows);
    static QString insertPartFrom(const QString& rows);
    // Newest first; total is the count of the terminal's events.
    static bool page(const QString& devSN, int offset, int limit, QList<struDeviceEvent>& events,
                     qint64& total);
};
