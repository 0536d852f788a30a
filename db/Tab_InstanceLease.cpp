#include "db/Tab_InstanceLease.h"

#include <QSqlQuery>
#include <QVariant>

#include "db/PooledConnection.h"

bool Tab_InstanceLease::renew(const QString& instance, qint64 expiresAt) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(
        QStringLiteral("insert into Tab_InstanceLease(instance,expiresAt) values(?,?) "
                       "on conflict(instance) do update set expiresAt=excluded.expiresAt"));
    query.bindValue(0, instance);
    query.bindValue(1, expiresAt);
    return query.exec();
}

bool Tab_InstanceLease::clearExpired(const QString& instance, qint64 now, int& cleared) {
    cleared = 0;
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // A name that renews again later (the instance restarted) clears its own rows at its start.
    QSqlQuery& query = connection.prepare(
        QStringLiteral("delete from Tab_DevicePresence where instance in (select instance from "
                       "Tab_InstanceLease where expiresAt<? and instance<>?)"));
    query.bindValue(0, now);
    query.bindValue(1, instance);
    if (!query.exec()) return false;
    cleared = query.numRowsAffected();
    return true;
}

bool Tab_InstanceLease::live(qint64 now, QStringList& instances) {
    instances.clear();
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query = connection.read(
        QStringLiteral(
            "select instance from Tab_InstanceLease where expiresAt>=? order by instance"),
        {now});
    if (!query) return false;
    while (query->next()) instances << query->value(0).toString();
    return true;
}
