#include "db/FleetCounts.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

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

bool FleetCounts::pendingRequests(int& commands, int& files) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // The where clause is the partial index's own: the count reads the few pending rows only.
    QSqlQuery* query = connection.read(
        QStringLiteral(
            "select coalesce(sum(case when coalesce(ConfigCmd,'')<>'' then 1 else 0 end),0),"
            "coalesce(sum(case when GetLogFile<>0 or GetIndexFile<>0 or GetPrintFile<>0 or "
            "GetRunInfoFile<>0 then 1 else 0 end),0) from Tab_DeviceInfo where "
            "isAutoUpdate<>0 or coalesce(ConfigCmd,'')<>'' or (GetLogFile<>0 or GetIndexFile<>0 "
            "or GetPrintFile<>0 or GetRunInfoFile<>0)"),
        {});
    if (!query || !query->next()) return false;
    commands = query->value(0).toInt();
    files = query->value(1).toInt();
    return true;
}

bool FleetCounts::rolloutStates(QList<QPair<QString, int>>& states) {
    states.clear();
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query = connection.read(
        QStringLiteral("select state,count(*) from Tab_RolloutPlan group by state order by state"),
        {});
    if (!query) return false;
    while (query->next()) states.append({query->value(0).toString(), query->value(1).toInt()});
    return true;
}
