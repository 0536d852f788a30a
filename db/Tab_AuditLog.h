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
    // Empty texts and zero times match everything; the times are milliseconds since 1970, from
    // inclusive, to exclusive.
    struct Filter {
        QString account;
        QString action;
        qint64 fromMs = 0;
        qint64 toMs = 0;
    };
    // Newest first. total is the count of all matches.
    bool queryEntries(const Filter& filter, int offset, int limit, QList<struAuditEntry>& entries,
                      qint64& total);
};
