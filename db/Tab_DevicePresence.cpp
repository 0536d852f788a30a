#include "db/Tab_DevicePresence.h"

#include <QDebug>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_DeviceInfo.h"

namespace {
bool execOne(const QString& statement, const QVariantList& values) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // Prepared once per connection: a terminal's departure runs it.
    QSqlQuery& query = connection.prepare(statement);
    for (int i = 0; i < values.size(); ++i) query.bindValue(i, values.at(i));
    if (query.exec()) return true;
    qDebug("update Tab_DevicePresence fail");
    return false;
}
}  // namespace

const RecordColumns<struDevicePresence>& Tab_DevicePresence::columns() {
    using P = struDevicePresence;
    static const RecordColumns<P> columns("Tab_DevicePresence",
                                          {{"devSN", &P::devSN, kKey},
                                           {"instance", &P::instance},
                                           {"connectedSince", &P::connectedSince},
                                           {"lastReport", &P::lastReport},
                                           {"peerAddress", &P::peerAddress}});
    return columns;
}

bool Tab_DevicePresence::recordReport(const struDevicePresence& p) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // Prepared once per connection: this runs for every report.
    static const QString upsert = columns().upsert();
    QSqlQuery& presence = connection.prepare(upsert);
    columns().bindAll(presence, p);
    if (presence.exec()) return true;
    qDebug("update Tab_DevicePresence fail");
    return false;
}

bool Tab_DevicePresence::depart(const QString& instance, const struDeviceEvent& event) {
    static const QString remove =
        QStringLiteral("delete from Tab_DevicePresence where devSN=? and instance=?");
    if (!SQLiteDb::instance()->isPostgreSQL())
        return execOne(remove, {event.devSN, instance}) && Tab_DeviceEvent::record(event);
    static const QString together =
        QStringLiteral("with %1,e as (%2) %3")
            .arg(Tab_DeviceEvent::readAndTrimParts(), Tab_DeviceEvent::insertPart(), remove);
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(together);
    query.bindValue(0, Tab_DeviceEvent::json({event}));
    query.bindValue(1, event.devSN);
    query.bindValue(2, instance);
    if (query.exec()) return true;
    qDebug("update Tab_DevicePresence fail");
    return false;
}

bool Tab_DevicePresence::clearInstance(const QString& instance) {
    return execOne(QStringLiteral("delete from Tab_DevicePresence where instance=?"), {instance});
}

bool Tab_DevicePresence::get(const QString& devSN, struDevicePresence& p) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* query = connection.read(columns().select(QStringLiteral("where devSN=?")), {devSN});
    if (!query || !query->next()) return false;
    columns().read(*query, p);
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
    const RecordColumns<struDeviceInfo>& table = Tab_DeviceInfo::columns();
    const auto positions = table.positions(query->record());
    const int progress = query->record().indexOf(QStringLiteral("wfProgress"));
    while (query->next()) {
        struDeviceInfo device;
        table.read(*query, positions, device);
        device.upgradeProgress = query->value(progress).toUInt();
        device.progressReported = true;
        devices << device;
    }
    return true;
}
