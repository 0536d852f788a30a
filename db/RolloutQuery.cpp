#include "db/RolloutQuery.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

#include "db/DeviceConditions.h"
#include "db/PooledConnection.h"
#include "db/Tab_UpgradeAttempt.h"

namespace {
const UpgradeAttemptState kOpenOrDone[] = {
    UpgradeAttemptState::Running, UpgradeAttemptState::Stalled, UpgradeAttemptState::Completed};

// The statement's columns after the serial number, in the order read() takes them.
QString judgedColumns(qint32 stalledBefore, QVariantList& binds) {
    QString attempt = QStringLiteral("case when a.id is null then -1");
    for (UpgradeAttemptState state : kOpenOrDone)
        attempt += QStringLiteral(" when %1 then %2")
                       .arg(Tab_UpgradeAttempt::stateCondition(state, stalledBefore, binds))
                       .arg(static_cast<int>(state));
    attempt += QStringLiteral(" else -1 end");
    return QStringLiteral(
               "d.AppVersion,d.McuVersion,d.FourGVersion,d.GnssVersion,d.SmartModule,"
               "d.isAutoUpdate<>0,case when %1 then 1 else 0 end,%2")
        .arg(DeviceConditions::online(), attempt);
}

QString from(const struPackageInfo& package, QVariantList& binds) {
    binds << package.id << package.packageName << package.deviceType;
    return QStringLiteral(
        " from Tab_DeviceInfo d left join Tab_UpgradeAttempt a on a.devSN=d.devSN and "
        "a.isCurrent<>0 and a.packageId=? and a.packageName=? where d.devType=?");
}

void read(const QSqlQuery& query, int first, RolloutQuery::Terminal& t) {
    t.device.AppVersion = query.value(first).toString();
    t.device.McuVersion = query.value(first + 1).toString();
    t.device.FourGVersion = query.value(first + 2).toString();
    t.device.GnssVersion = query.value(first + 3).toString();
    t.device.SmartModule = query.value(first + 4).toString();
    t.device.isAutoUpdate = query.value(first + 5).toInt() != 0;
    t.online = query.value(first + 6).toInt() != 0;
    const int attempt = query.value(first + 7).toInt();
    t.hasAttempt = attempt >= 0;
    if (t.hasAttempt) t.attempt = static_cast<UpgradeAttemptState>(attempt);
}

QSqlQuery* run(PooledConnection& connection, const QString& statement, const QVariantList& binds) {
    QSqlQuery* query = connection.read(statement, binds);
    if (!query) qDebug("query rollout fail");
    return query;
}
}  // namespace

bool RolloutQuery::groups(const struPackageInfo& package, qint32 stalledBefore,
                          const std::function<void(const Terminal&, int)>& visit) {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QVariantList binds;
    const QString columns = judgedColumns(stalledBefore, binds);
    const QString source = from(package, binds);
    QSqlQuery* query =
        run(connection,
            QStringLiteral("select count(*),%1%2 group by 2,3,4,5,6,7,8,9").arg(columns, source),
            binds);
    if (!query) return false;
    while (query->next()) {
        Terminal terminal;
        read(*query, 1, terminal);
        visit(terminal, query->value(0).toInt());
    }
    return true;
}

bool RolloutQuery::forEach(const struPackageInfo& package, qint32 stalledBefore,
                           const std::function<void(const Terminal&)>& visit) {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QVariantList binds;
    const QString columns = judgedColumns(stalledBefore, binds);
    const QString source = from(package, binds);
    QSqlQuery* query = run(
        connection,
        QStringLiteral("select d.devSN,%1%2 order by d.devSN,d.id").arg(columns, source), binds);
    if (!query) return false;
    while (query->next()) {
        Terminal terminal;
        terminal.device.devSN = query->value(0).toString();
        read(*query, 1, terminal);
        visit(terminal);
    }
    return true;
}
