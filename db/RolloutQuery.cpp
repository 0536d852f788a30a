#include "db/RolloutQuery.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

#include "db/DeviceConditions.h"
#include "db/PooledConnection.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_UpgradeAttempt.h"

namespace {
const UpgradeAttemptState kOpenOrDone[] = {
    UpgradeAttemptState::Running, UpgradeAttemptState::Stalled, UpgradeAttemptState::Completed,
    UpgradeAttemptState::Reverted};

// The device fields a rollout judges a terminal by, in the order the statements select them.
const std::vector<int>& judged() {
    using D = struDeviceInfo;
    const RecordColumns<D>& devices = Tab_DeviceInfo::columns();
    static const std::vector<int> columns{
        devices.indexOf(&D::AppVersion),   devices.indexOf(&D::McuVersion),
        devices.indexOf(&D::FourGVersion), devices.indexOf(&D::GnssVersion),
        devices.indexOf(&D::SmartModule),  devices.indexOf(&D::isAutoUpdate)};
    return columns;
}

// The statement's columns after the count or the serial number, in the order Reader takes them.
QString judgedColumns(qint32 stalledBefore, QVariantList& binds) {
    QString attempt = QStringLiteral("case when a.id is null then -1");
    for (UpgradeAttemptState state : kOpenOrDone)
        attempt += QStringLiteral(" when %1 then %2")
                       .arg(Tab_UpgradeAttempt::stateCondition(state, stalledBefore, binds))
                       .arg(static_cast<int>(state));
    attempt += QStringLiteral(" else -1 end");
    return QStringLiteral("%1,case when %2 then 1 else 0 end,%3")
        .arg(Tab_DeviceInfo::columns().list(judged(), QStringLiteral("d.")),
             DeviceConditions::online(), attempt);
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

// The columns a planned rollout reads after judgedColumns().
const QString kPlannedColumns =
    QStringLiteral(",coalesce(m.position,0),coalesce(o.ok,0),coalesce(o.bad,0)");

// Reads the rows of a statement whose judged columns start at position first.
class Reader {
  public:
    explicit Reader(int first)
        : m_device(Tab_DeviceInfo::columns().positions(judged(), first)),
          m_after(first + static_cast<int>(judged().size())) {}
    // With the serial number at position 0.
    static Reader withSerial() {
        Reader reader(1);
        reader.m_device[static_cast<size_t>(
            Tab_DeviceInfo::columns().indexOf(&struDeviceInfo::devSN))] = 0;
        return reader;
    }

    void read(const QSqlQuery& query, RolloutQuery::Terminal& t, bool planned) const {
        Tab_DeviceInfo::columns().read(query, m_device, t.device);
        t.online = query.value(m_after).toInt() != 0;
        const int attempt = query.value(m_after + 1).toInt();
        t.hasAttempt = attempt >= 0;
        if (t.hasAttempt) t.attempt = static_cast<UpgradeAttemptState>(attempt);
        if (!planned) return;
        t.listedPosition = query.value(m_after + 2).toInt();
        t.succeeded = query.value(m_after + 3).toInt() != 0;
        t.reverted = query.value(m_after + 4).toInt() != 0;
    }

  private:
    RecordColumns<struDeviceInfo>::Positions m_device;
    int m_after;  // the position of the first column after the judged ones
};

// "2,3,...": every column after the count, the judged ones and what follows them.
QString afterCount() {
    QStringList positions;
    for (size_t i = 0; i < judged().size() + 2; ++i) positions << QString::number(i + 2);
    return positions.join(QLatin1Char(','));
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
            QStringLiteral("select count(*),%1%2 group by %3").arg(columns, source, afterCount()),
            binds);
    if (!query) return false;
    const Reader reader(1);
    while (query->next()) {
        Terminal terminal;
        reader.read(*query, terminal, false);
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
    const Reader reader = Reader::withSerial();
    while (query->next()) {
        Terminal terminal;
        reader.read(*query, terminal, planned);
        visit(terminal);
    }
    return true;
}
