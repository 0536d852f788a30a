#include "db/Tab_DeviceEvent.h"

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

bool Tab_DeviceEvent::record(const struDeviceEvent& event) {
    if (SQLiteDb::instance()->isPostgreSQL()) {
        // One round trip. The trim sees the rows as they were before the insert, so it keeps one
        // fewer of them.
        static const QString statement =
            QStringLiteral(
                "with t as (delete from Tab_DeviceEvent where devSN=? and id<=(select id from "
                "Tab_DeviceEvent where devSN=? order by id desc limit 1 offset ?)) ") +
            columns().insert();
        PooledConnection connection;
        if (!connection.checkUsable()) return false;
        QSqlQuery& query = connection.prepare(statement);
        query.bindValue(0, event.devSN);
        query.bindValue(1, event.devSN);
        query.bindValue(2, kKeptPerTerminal - 1);
        columns().bindInsert(query, event, 0, 3);
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
