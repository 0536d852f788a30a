#pragma once

#include <vector>

#include <QString>
#include <QVariant>

#include "db/ColumnKind.h"
#include "model/struUpgradeAttempt.h"

class QSqlQuery;
class QSqlRecord;

// The columns of Tab_UpgradeAttempt, described once: the insert, the select list, the row
// reader and the console's documents are made from that description.
class UpgradeAttemptColumns {
  public:
    static int count();
    static const char* name(int column);
    static ColumnKind kind(int column);
    static QVariant value(const struUpgradeAttempt& attempt, int column);

    // Every column but the key, bound by position in column order.
    static const QString& insertStatement();
    static void bindInsert(QSqlQuery& query, const struUpgradeAttempt& attempt);
    // "a.id,a.devSN,..." for a query aliasing the table as a.
    static const QString& selectList();
    // The attempt of the current row of a query made with selectList(), whose first column is
    // at position first.
    static void read(const QSqlQuery& query, int first, struUpgradeAttempt& attempt);
};
