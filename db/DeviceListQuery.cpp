#include "db/DeviceListQuery.h"

#include <QDebug>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include "db/DeviceConditions.h"
#include "db/DeviceSearch.h"
#include "db/PooledConnection.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_DevicePresence.h"

namespace {
QString sortExpression(const DeviceListQuery::Sort& sort) {
    if (sort.column == DeviceListQuery::kOnline)
        return QStringLiteral("(case when %1 then 1 else 0 end)").arg(DeviceConditions::online());
    return QStringLiteral("d.") + QLatin1String(Tab_DeviceInfo::columns().name(sort.column));
}

// A missing value is the smallest in both directions, as SQLite orders it by default (so the
// column's index serves the order); written out for databases that order it otherwise.
QString orderBy(const QString& expression, bool descending) {
    return descending ? QStringLiteral(" order by %1 desc nulls last,d.id desc").arg(expression)
                      : QStringLiteral(" order by %1 asc nulls first,d.id asc").arg(expression);
}

// The rows after (value, id) in the order of orderBy().
QString afterCursor(const QString& e, bool descending, const QVariant& value, qint32 id,
                    QVariantList& binds) {
    if (value.isNull()) {
        binds << id;
        return descending ? QStringLiteral("(%1 is null and d.id<?)").arg(e)
                          : QStringLiteral("((%1 is null and d.id>?) or %1 is not null)").arg(e);
    }
    binds << value << value << id;
    return descending ? QStringLiteral("(%1<? or %1 is null or (%1=? and d.id<?))").arg(e)
                      : QStringLiteral("(%1>? or (%1=? and d.id>?))").arg(e);
}

const QString& deviceColumns() {
    static const QString list = Tab_DeviceInfo::columns().list(QStringLiteral("d."));
    return list;
}

const QString& presenceColumns() {
    static const QString list = Tab_DevicePresence::columns().list(QStringLiteral("p."));
    return list;
}
const QString kPresenceJoin = QStringLiteral(" left join Tab_DevicePresence p on p.devSN=d.devSN");

// A row of a statement that selects deviceColumns(), the presence columns and, when withSort,
// the sort value last.
void readRow(const QSqlQuery& query, DeviceListRow& row, bool withSort) {
    const RecordColumns<struDeviceInfo>& columns = Tab_DeviceInfo::columns();
    columns.read(query, row.device);
    const int presence = columns.count();
    row.online = !query.value(presence).isNull();
    if (row.online) Tab_DevicePresence::columns().read(query, row.presence, presence);
    if (withSort) row.sortValue = query.value(presence + Tab_DevicePresence::columns().count());
}
}  // namespace

bool DeviceListQuery::page(const DeviceFilter& filter, const Sort& sort, const Page& page,
                           QList<DeviceListRow>& rows, bool& more) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    const QString expression = sortExpression(sort);
    QVariantList binds;
    QStringList terms = DeviceConditions::terms(connection.database(), filter, binds);
    if (page.afterCursor)
        terms << afterCursor(expression, sort.descending, page.cursorValue, page.cursorId, binds);
    const QString where = terms.isEmpty()
                              ? QString()
                              : QStringLiteral(" where ") + terms.join(QStringLiteral(" and "));
    binds << page.limit + 1 << (page.afterCursor ? 0 : page.offset);
    // The page's keys first: the sort then carries two values per row, not the whole row.
    const QString statement =
        QStringLiteral(
            "select %1,%2,page.sortValue from (select d.id,%3 as sortValue from "
            "Tab_DeviceInfo d%4%5 limit ? offset ?) page join Tab_DeviceInfo d on "
            "d.id=page.id%6%7")
            .arg(deviceColumns(), presenceColumns(), expression, where,
                 orderBy(expression, sort.descending), kPresenceJoin,
                 orderBy(QStringLiteral("page.sortValue"), sort.descending));
    QSqlQuery* query = connection.read(statement, binds);
    if (!query) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    rows.clear();
    more = false;
    while (query->next()) {
        if (rows.size() == page.limit) {
            more = true;
            break;
        }
        DeviceListRow row;
        readRow(*query, row, true);
        rows << row;
    }
    return true;
}

bool DeviceListQuery::count(const DeviceFilter& filter, int& total) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    DeviceFilter others = filter;
    others.q.clear();
    // A search and nothing else: counted from the search tables without visiting the devices.
    const QSqlDatabase& db = connection.database();
    const bool searchOnly = !filter.q.isEmpty() && filter.searchDeviceId &&
                            DeviceConditions::terms(db, others, binds).isEmpty();
    binds.clear();
    const QString statement =
        searchOnly ? DeviceSearch::count(db, filter.q, binds)
                   : QStringLiteral("select count(*) from Tab_DeviceInfo d") +
                         DeviceConditions::where(db, filter, binds, DeviceConditions::Use::Count);
    QSqlQuery* query = connection.read(statement, binds);
    if (!query || !query->next()) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    total = query->value(0).toInt();
    return true;
}

bool DeviceListQuery::forEach(const DeviceFilter& filter, const Sort& sort,
                              const std::function<bool(const DeviceListRow&)>& visit) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    const QString where = DeviceConditions::where(connection.database(), filter, binds);
    const QString statement = QStringLiteral("select %1,%2 from Tab_DeviceInfo d%3%4%5")
                                  .arg(deviceColumns(), presenceColumns(), kPresenceJoin, where,
                                       orderBy(sortExpression(sort), sort.descending));
    QSqlQuery* query = connection.read(statement, binds);
    if (!query) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    while (query->next()) {
        DeviceListRow row;
        readRow(*query, row, false);
        if (!visit(row)) break;
    }
    return true;
}
