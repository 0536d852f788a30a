#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include "db/DeviceFilter.h"

// Writes chosen columns of Tab_DeviceInfo and nothing else, so an edit never carries stale values
// of the columns it did not mean to change.
class DeviceEditor {
  public:
    using Change = QPair<int, QVariant>;  // stored column (Tab_DeviceInfo::columns()), new value

    // One terminal's row; affected is 0 when there is no such terminal.
    static bool updateOne(const QString& devSN, const QList<Change>& changes, int& affected);
    // Every row the filter takes, in one statement.
    static bool updateMatching(const DeviceFilter& filter, const QList<Change>& changes,
                               int& affected);

    // One row of an import: a new terminal, or the changed columns of a known one.
    struct RowWrite {
        QString devSN;
        bool insert = false;
        QList<Change> changes;  // for an insert, every column it sets besides devSN
    };
    // All rows or none: one transaction.
    static bool applyRows(const QList<RowWrite>& rows);
};
