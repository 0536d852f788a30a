#include "db/Tab_UpgradeDecision.h"

#include <QDebug>
#include <QSqlQuery>

#include "db/PooledConnection.h"

const RecordColumns<struUpgradeDecision>& Tab_UpgradeDecision::columns() {
    using D = struUpgradeDecision;
    static const RecordColumns<D> columns("Tab_UpgradeDecision",  // one row per terminal
                                          {{"devSN", &D::devSN, kKey},
                                           {"decidedAt", &D::decidedAt},
                                           {"devType", &D::devType},
                                           {"packageId", &D::packageId},
                                           {"packageName", &D::packageName},
                                           {"offered", &D::offered},
                                           {"reason", &D::reason},
                                           {"detail", &D::detail}});
    return columns;
}

bool Tab_UpgradeDecision::record(const struUpgradeDecision& decision) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    static const QString statement = columns().upsert();
    QSqlQuery& query = connection.prepare(statement);
    columns().bindAll(query, decision);
    if (query.exec()) return true;
    qDebug("write upgrade decision fail");
    return false;
}

Tab_UpgradeDecision::Result Tab_UpgradeDecision::get(const QString& devSN,
                                                     struUpgradeDecision& decision) {
    PooledConnection connection;
    if (!connection.checkUsable()) return Result::Failed;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(columns().select(QStringLiteral("where devSN=?")));
    query.bindValue(0, devSN);
    if (!query.exec()) {
        qDebug("query upgrade decision fail");
        return Result::Failed;
    }
    if (!query.next()) return Result::Missing;
    columns().read(query, decision);
    return Result::Found;
}

bool Tab_UpgradeDecision::countByReason(const QString& devType,
                                        QList<QPair<QString, int>>& counts) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "select reason,count(*) from Tab_UpgradeDecision where devType=? group by reason"));
    query.bindValue(0, devType);
    if (!query.exec()) {
        qDebug("query upgrade decision fail");
        return false;
    }
    counts.clear();
    while (query.next()) counts << qMakePair(query.value(0).toString(), query.value(1).toInt());
    return true;
}
