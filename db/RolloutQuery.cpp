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

QString from(const struPackageInfo& package, bool planned, QVariantList& binds) {
    QString joins = QStringLiteral(
        " from Tab_DeviceInfo d left join Tab_UpgradeAttempt a on a.devSN=d.devSN and "
        "a.isCurrent<>0 and a.packageId=? and a.packageName=?");
    binds << package.id << package.packageName;
    if (planned) {
        joins += QStringLiteral(
                     " left join Tab_RolloutMember m on m.packageId=? and m.devSN=d.devSN"
                     " left join (select devSN,"
                     "max(case when outcome='%1' then 1 else 0 end) as ok,"
                     "max(case when outcome='%2' then 1 else 0 end) as bad"
                     " from Tab_UpgradeAttempt where packageId=? and packageName=?"
                     " group by devSN) o on o.devSN=d.devSN")
                     .arg(QLatin1String(kOutcomeSucceeded), QLatin1String(kOutcomeReverted));
        binds << package.id << package.id << package.packageName;
    }
    binds << package.deviceType;
    return joins + QStringLiteral(" where d.devType=?");
}

// The columns a planned rollout reads after judgedColumns(), in the order readPlanned() takes.
const QString kPlannedColumns =
    QStringLiteral(",coalesce(m.position,0),coalesce(o.ok,0),coalesce(o.bad,0)");

void readPlanned(const QSqlQuery& query, int first, RolloutQuery::Terminal& t) {
    t.listedPosition = query.value(first).toInt();
    t.succeeded = query.value(first + 1).toInt() != 0;
    t.reverted = query.value(first + 2).toInt() != 0;
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
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    const QString columns = judgedColumns(stalledBefore, binds);
    const QString source = from(package, false, binds);
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
                           const std::function<void(const Terminal&)>& visit, bool planned) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    const QString columns = judgedColumns(stalledBefore, binds);
    const QString source = from(package, planned, binds);
    QSqlQuery* query = run(connection,
                           QStringLiteral("select d.devSN,%1%2%3 order by d.devSN,d.id")
                               .arg(columns, planned ? kPlannedColumns : QString(), source),
                           binds);
    if (!query) return false;
    while (query->next()) {
        Terminal terminal;
        terminal.device.devSN = query->value(0).toString();
        read(*query, 1, terminal);
        if (planned) readPlanned(*query, 9, terminal);
        visit(terminal);
    }
    return true;
}
