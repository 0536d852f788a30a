#include "db/FleetCounts.h"

#include <QSqlQuery>
#include <QVariant>

#include "db/PooledConnection.h"

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
