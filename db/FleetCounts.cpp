#include "db/FleetCounts.h"

#include <QStringList>

#include "db/PooledConnection.h"
#include "model/ComponentVersions.h"
#include "model/struUpgradeAttempt.h"

bool FleetCounts::versions(QList<Version>& versions) {
    QStringList parts;
    for (const ComponentVersion& component : kComponentVersions)
        parts << QStringLiteral(
                     "select coalesce(devType,''),'%1',coalesce(%1,''),count(*) from "
                     "Tab_DeviceInfo group by devType,%1")
                     .arg(QLatin1String(component.name));
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query = connection.read(
        parts.join(QStringLiteral(" union all ")) + QStringLiteral(" order by 1,2,4 desc"), {});
    if (!query) return false;
    versions.clear();
    while (query->next())
        versions << Version{query->value(0).toString(), query->value(1).toString(),
                            query->value(2).toString(), query->value(3).toInt()};
    return true;
}

bool FleetCounts::upgradesPerDay(qint32 since, qint32 utcOffset, QList<Day>& days) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query = connection.read(
        QStringLiteral("select (startedAt+?)/86400,count(*),"
                       "sum(case when outcome='%1' then 1 else 0 end),"
                       "sum(case when outcome='%2' then 1 else 0 end) from Tab_UpgradeAttempt "
                       "where startedAt>=? group by 1 order by 1")
            .arg(QLatin1String(kOutcomeSucceeded), QLatin1String(kOutcomeReverted)),
        {utcOffset, since});
    if (!query) return false;
    days.clear();
    while (query->next())
        days << Day{query->value(0).toLongLong(), query->value(1).toInt(), query->value(2).toInt(),
                    query->value(3).toInt()};
    return true;
}

bool FleetCounts::terminals(int& online, int& total) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query =
        connection.read(QStringLiteral("select (select count(*) from Tab_DevicePresence),"
                                       "(select count(*) from Tab_DeviceInfo)"),
                        {});
    if (!query || !query->next()) return false;
    online = query->value(0).toInt();
    total = query->value(1).toInt();
    return true;
}
