#include "db/Tab_DeviceEvent.h"

#include <QByteArray>
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

QString Tab_DeviceEvent::readAndTrimParts() {
    // The trim sees the rows as they were before the insert: it leaves room for the new ones.
    return QStringLiteral(
               "ev as (select * from %1 with ordinality),t as (delete from Tab_DeviceEvent x "
               "using (select devSN,count(*) n from ev group by devSN) c where x.devSN=c.devSN "
               "and x.id<=(select id from Tab_DeviceEvent where devSN=c.devSN order by id desc "
               "limit 1 offset greatest(0,%2-c.n)))")
        .arg(columns().rowsFromJson())
        .arg(kKeptPerTerminal);
}

QString Tab_DeviceEvent::insertPart() {
    // Ids are taken in the order of the rows: the timeline keeps it.
    return columns().insertFrom(QStringLiteral("ev"), QStringLiteral("order by r.ordinality"));
}

QString Tab_DeviceEvent::json(const QList<struDeviceEvent>& events) {
    QByteArray array = QByteArrayLiteral("[");
    for (const struDeviceEvent& event : events) columns().appendJsonElement(array, event);
    return QString::fromUtf8(array + ']');
}

bool Tab_DeviceEvent::record(const struDeviceEvent& event) {
    if (SQLiteDb::instance()->isPostgreSQL()) {
        static const QString statement =
            QStringLiteral("with %1 %2").arg(readAndTrimParts(), insertPart());
        PooledConnection connection;
        if (!connection.checkUsable()) return false;
        QSqlQuery& query = connection.prepare(statement);
        query.bindValue(0, json({event}));
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
