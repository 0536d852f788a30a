#pragma once

#include <QList>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struAuditEntry.h"

// Tab_AuditLog: the trail of changes. Rows are only ever added; the schema refuses updates and
// deletions. Holds no state.
class Tab_AuditLog {
  public:
    static const RecordColumns<struAuditEntry>& columns();

    bool insertEntry(const struAuditEntry& entry);
    // Newest first; an empty filter matches everything. total is the count of all matches.
    bool queryEntries(const QString& account, const QString& action, int offset, int limit,
                      QList<struAuditEntry>& entries, qint64& total);
};
