#include "db/DevicePackageCounts.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>

#include "db/DeviceConditions.h"
#include "db/PooledConnection.h"
#include "model/ComponentVersions.h"

namespace {
// A component the package leaves empty is not part of its version.
QString onVersion() {
    QStringList same;
    for (const ComponentVersion& component : kComponentVersions)
        same << QStringLiteral("(coalesce(pk.%1,'')='' or pk.%1=d.%1)")
                    .arg(QLatin1String(component.name));
    return same.join(QStringLiteral(" and "));
}
}  // namespace

bool DevicePackageCounts::count(const DeviceFilter& filter, QList<Group>& groups) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    // The package is found by the trimmed type, as the upgrade decision finds it.
    const QString statement =
        QStringLiteral(
            "select coalesce(pk.id,0),count(*),sum(case when %1 then 1 else 0 end),"
            "sum(case when pk.id is not null and %2 then 1 else 0 end) from Tab_DeviceInfo d "
            "left join Tab_Package pk on pk.deviceType=trim(d.devType)%3 group by pk.id")
            .arg(DeviceConditions::online(), onVersion(),
                 DeviceConditions::where(connection.database(), filter, binds,
                                         DeviceConditions::Use::Count));
    QSqlQuery* query = connection.read(statement, binds);
    if (!query) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    groups.clear();
    while (query->next()) {
        Group group;
        group.packageId = query->value(0).toInt();
        group.matched = query->value(1).toInt();
        group.online = query->value(2).toInt();
        group.onVersion = query->value(3).toInt();
        groups << group;
    }
    return true;
}
