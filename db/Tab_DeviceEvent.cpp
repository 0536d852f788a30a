#include "db/Tab_DeviceEvent.h"

#include <algorithm>

#include <QSqlQuery>

#include "db/SQLiteDb.h"
#include "db/SqlStatement.h"

const RecordColumns<struDeviceEvent>& Tab_DeviceEvent::columns() {
    using E = struDeviceEvent;
    static const RecordColumns<E> columns("Tab_DeviceEvent", {{"id", &E::id, kKey | kAssigned},
                                                              {"devSN", &E::devSN},
                                                              {"at", &E::at},
                                                              {"kind", &E::kind},
                                                              {"detail", &E::detail}});
    return columns;
}

QString Tab_DeviceEvent::trimPart() {
    return QStringLiteral(
        "delete from Tab_DeviceEvent where devSN=? and id<=(select id from Tab_DeviceEvent where "
        "devSN=? order by id desc limit 1 offset ?)");
}

QString Tab_DeviceEvent::insertPart(int count) {
    // Rows of one VALUES list take their ids in the list's order: the timeline keeps it.
    const QString insert = columns().insert();
    const QString row = insert.mid(insert.lastIndexOf(QStringLiteral("values(")) + 6);
    QString statement = insert;
    for (int i = 1; i < count; ++i) statement += QLatin1Char(',') + row;
    return statement;
}

QString Tab_DeviceEvent::trimPartFrom(const QString& rows) {
    return QStringLiteral(
               "delete from Tab_DeviceEvent x using (select devSN,count(*) n from %1 group by "
               "devSN) c where x.devSN=c.devSN and x.id<=(select id from Tab_DeviceEvent where "
               "devSN=c.devSN order by id desc limit 1 offset greatest(0,%2-c.n))")
        .arg(rows)
        .arg(kKeptPerTerminal);
}

QString Tab_DeviceEvent::insertPartFrom(const QString& rows) {
    // Ids are taken in the order of the rows: the timeline keeps it.
    return columns().insertFrom(rows, QStringLiteral("order by r.ordinality"));
}

int Tab_DeviceEvent::bindParts(QSqlQuery& query, const QList<struDeviceEvent>& events, int first) {
    if (events.isEmpty()) return first;
    query.bindValue(first, events.first().devSN);
    query.bindValue(first + 1, events.first().devSN);
    // Room for the new ones among the kept.
    query.bindValue(first + 2, std::max(0, kKeptPerTerminal - events.size()));
    int at = first + 3;
    for (const struDeviceEvent& event : events) at = columns().bindInsert(query, event, 0, at);
    return at;
}

bool Tab_DeviceEvent::record(const struDeviceEvent& event) {
    if (SQLiteDb::instance()->isPostgreSQL()) {
        static const QString statement =
            QStringLiteral("with t as (%1) %2").arg(trimPart(), insertPart(1));
        PooledConnection connection;
        if (!connection.checkUsable()) return false;
        QSqlQuery& query = connection.prepare(statement);
        bindParts(query, {event}, 0);
        return query.exec();
    }
    {
        SqlStatement insert(columns().insert());
        insert.bindRow(columns(), event);
        if (!insert.exec()) return false;
    }
    // Walks the terminal's index from its newest event: as cheap with a long history as a short.
    SqlStatement trim(QStringLiteral(
        "delete from Tab_DeviceEvent where devSN=:devSN and id<=(select id from Tab_DeviceEvent "
        "where devSN=:devSN2 order by id desc limit 1 offset :keep)"));
    trim.bind(QStringLiteral(":devSN"), event.devSN)
        .bind(QStringLiteral(":devSN2"), event.devSN)
        .bind(QStringLiteral(":keep"), kKeptPerTerminal);
    return trim.exec();
}

bool Tab_DeviceEvent::page(const QString& devSN, int offset, int limit,
                           QList<struDeviceEvent>& events, qint64& total) {
    SqlStatement count(
        QStringLiteral("select count(*) as n from Tab_DeviceEvent where devSN=:devSN"));
    count.bind(QStringLiteral(":devSN"), devSN);
    if (!count.exec() || !count.next()) return false;
    total = count.value("n").toLongLong();

    SqlStatement query(columns().select(
        QStringLiteral("where devSN=:devSN order by id desc limit :limit offset :offset")));
    query.bind(QStringLiteral(":devSN"), devSN)
        .bind(QStringLiteral(":limit"), limit)
        .bind(QStringLiteral(":offset"), offset);
    if (!query.exec()) return false;
    events.clear();
    while (query.next()) {
        struDeviceEvent event;
        query.readRow(columns(), event);
        events.append(event);
    }
    return true;
}
