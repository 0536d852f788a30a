#include "db/Tab_UpgradeDecision.h"

#include <QDebug>
#include <QSqlQuery>

#include "db/KeyedRecord.h"
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
    return KeyedRecord::put(columns(), decision, "write upgrade decision fail");
}

Tab_UpgradeDecision::Result Tab_UpgradeDecision::get(const QString& devSN,
                                                     struUpgradeDecision& decision) {
    return KeyedRecord::get(columns(), "devSN", devSN, decision, "query upgrade decision fail");
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
