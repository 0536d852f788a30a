#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include "db/DeviceFilter.h"

// The SQL of a device filter, for queries on Tab_DeviceInfo aliased d: one place for the list,
// its count, the bulk edit and the export.
class DeviceConditions {
  public:
    // What the rows are wanted for: the plan that counts them best is not the one that pages them.
    enum class Use { Rows, Count };

    // " where ..." (empty without conditions) for the connection's database; the values are
    // appended to binds in order.
    static QString where(const QSqlDatabase& db, const DeviceFilter& filter, QVariantList& binds,
                         Use use = Use::Rows);
    // The conditions of the filter, to be joined with "and"; empty without conditions.
    static QStringList terms(const QSqlDatabase& db, const DeviceFilter& filter,
                             QVariantList& binds, Use use = Use::Rows);
    // Holds for a terminal with a presence row.
    static QString online();
};
