#include "db/Tab_IdentityConflict.h"

#include <QDebug>
#include <QSqlQuery>

#include "db/PooledConnection.h"

const RecordColumns<struIdentityConflict>& Tab_IdentityConflict::columns() {
    using C = struIdentityConflict;
    static const RecordColumns<C> columns("Tab_IdentityConflict",  // one row per terminal
                                          {{"devSN", &C::devSN, kKey},
                                           {"conflictAt", &C::conflictAt},
                                           {"devId", &C::devId},
                                           {"address", &C::address}});
    return columns;
}

bool Tab_IdentityConflict::record(const struIdentityConflict& conflict) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    static const QString statement = columns().upsert();
    QSqlQuery& query = connection.prepare(statement);
    columns().bindAll(query, conflict);
    if (query.exec()) return true;
    qDebug("write identity conflict fail");
    return false;
}

Tab_IdentityConflict::Result Tab_IdentityConflict::get(const QString& devSN,
                                                       struIdentityConflict& conflict) {
    PooledConnection connection;
    if (!connection.checkUsable()) return Result::Failed;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(columns().select(QStringLiteral("where devSN=?")));
    query.bindValue(0, devSN);
    if (!query.exec()) {
        qDebug("query identity conflict fail");
        return Result::Failed;
    }
    if (!query.next()) return Result::Missing;
    columns().read(query, conflict);
    return Result::Found;
}
