#include "db/Tab_DevicePresence.h"

#include <QDebug>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/DeviceColumns.h"
#include "db/PooledConnection.h"

namespace {
bool execOne(const QString& statement, const QVariantList& values) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery query(connection.database());
    query.prepare(statement);
    for (int i = 0; i < values.size(); ++i) query.bindValue(i, values.at(i));
    if (query.exec()) return true;
    qDebug("update Tab_DevicePresence fail");
    return false;
}
}  // namespace

bool Tab_DevicePresence::recordReport(const struDevicePresence& p) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlDatabase& db = connection.database();
    bool ok = db.transaction();
    if (ok) {
        QSqlQuery device(db);
        device.prepare(QStringLiteral("update Tab_DeviceInfo set LastReportTime=? where devSN=?"));
        device.bindValue(0, p.lastReport);
        device.bindValue(1, p.devSN);
        QSqlQuery presence(db);
        presence.prepare(QStringLiteral(
            "insert into Tab_DevicePresence(devSN,instance,connectedSince,lastReport,peerAddress)"
            " values(?,?,?,?,?) on conflict(devSN) do update set instance=excluded.instance,"
            "connectedSince=excluded.connectedSince,lastReport=excluded.lastReport,"
            "peerAddress=excluded.peerAddress"));
        const QVariantList values{p.devSN, p.instance, p.connectedSince, p.lastReport,
                                  p.peerAddress.isNull() ? QStringLiteral("") : p.peerAddress};
        for (int i = 0; i < values.size(); ++i) presence.bindValue(i, values.at(i));
        ok = device.exec() && presence.exec();
    }
    if (ok && db.commit()) return true;
    db.rollback();
    qDebug("update Tab_DevicePresence fail");
    return false;
}

bool Tab_DevicePresence::remove(const QString& devSN, const QString& instance) {
    return execOne(QStringLiteral("delete from Tab_DevicePresence where devSN=? and instance=?"),
                   {devSN, instance});
}

bool Tab_DevicePresence::clearInstance(const QString& instance) {
    return execOne(QStringLiteral("delete from Tab_DevicePresence where instance=?"), {instance});
}

bool Tab_DevicePresence::get(const QString& devSN, struDevicePresence& p) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query = connection.read(
        QStringLiteral("select devSN,instance,connectedSince,lastReport,peerAddress "
                       "from Tab_DevicePresence where devSN=?"),
        {devSN});
    if (!query || !query->next()) return false;
    p.devSN = query->value(0).toString();
    p.instance = query->value(1).toString();
    p.connectedSince = query->value(2).toInt();
    p.lastReport = query->value(3).toInt();
    p.peerAddress = query->value(4).toString();
    return true;
}

bool Tab_DevicePresence::upgradeProgress(QList<struDeviceInfo>& devices) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // Progress from before the present connection belongs to an earlier one, as when the
    // list was kept per connection in memory.
    QSqlQuery* query = connection.read(
        QStringLiteral("select d.*,a.lastProgress as wfProgress from Tab_DevicePresence p "
                       "join Tab_DeviceInfo d on d.devSN=p.devSN "
                       "join Tab_UpgradeAttempt a on a.devSN=p.devSN and a.isCurrent<>0 "
                       "where a.lastProgressAt>0 and a.lastProgressAt>=p.connectedSince "
                       "order by p.connectedSince,p.devSN"),
        {});
    if (!query) {
        qDebug("query Tab_DevicePresence fail");
        return false;
    }
    devices.clear();
    const std::vector<int> positions = DeviceColumns::positions(query->record());
    const int progress = query->record().indexOf(QStringLiteral("wfProgress"));
    while (query->next()) {
        struDeviceInfo device;
        DeviceColumns::read(*query, positions, device);
        device.upgradeProgress = query->value(progress).toUInt();
        device.progressReported = true;
        devices << device;
    }
    return true;
}
