#include "db/Tab_DeviceInfo.h"

#include <sqlite3.h>

#include <functional>

#include <QDebug>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/DeviceColumns.h"
#include "db/PooledConnection.h"
#include "db/SqlDialect.h"

namespace {
const QString kCount = QStringLiteral("select Count(1) from Tab_DeviceInfo where devSN=:devSN");
const QString kList = QStringLiteral("select rowid as row_num,* from Tab_DeviceInfo");
// No rowid there: the key stands in for it, and rows come in its order as SQLite gives them.
const QString kListPostgres = QStringLiteral("select id as row_num,* from Tab_DeviceInfo");
const QString kClearAutoUpdate =
    QStringLiteral("update Tab_DeviceInfo set isAutoUpdate=:isAutoUpdate");
const QString kCompleteUpgrade = QStringLiteral(
    "update Tab_DeviceInfo set UpgradeCompletionTime=:UpgradeCompletionTime,isAutoUpdate=0 "
    "where devSN=:devSN");
const QString kClearConfigCmd = QStringLiteral(
    "update Tab_DeviceInfo set ConfigCmd='' where devSN=:devSN and ConfigCmd=:ConfigCmd");
const QString kPin =
    QStringLiteral("update Tab_DeviceInfo set IdentityPinned=1 where devSN=:devSN");
const QString kReleasePin =
    QStringLiteral("update Tab_DeviceInfo set IdentityPinned=0 where devSN=:devSN");

void readList(QSqlQuery& query, QList<struDeviceInfo>& devices, bool trimConfigCmd) {
    devices.clear();
    const QSqlRecord record = query.record();
    const int rowNum = record.indexOf(QStringLiteral("row_num"));
    const std::vector<int> columns = DeviceColumns::positions(record);
    while (query.next()) {
        struDeviceInfo device;
        device.row_num = query.value(rowNum).toInt();
        DeviceColumns::read(query, columns, device);
        if (trimConfigCmd) device.ConfigCmd = device.ConfigCmd.trimmed();
        devices.append(device);
    }
}

// The list statements: empty filters are left out. Only the plain device list shows the
// command trimmed; the search shows it as stored.
bool listDevices(QList<struDeviceInfo>& devices, const QString& devSN, const QString& PhoneNumber,
                 bool trimConfigCmd) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    const bool postgres = SqlDialect::isPostgreSQL(connection.database());
    QString statement = postgres ? kListPostgres : kList;
    if (!devSN.isEmpty()) statement += QStringLiteral(" where devSN=:devSN");
    if (!PhoneNumber.isEmpty()) {
        statement += devSN.isEmpty() ? QStringLiteral(" where") : QStringLiteral(" and");
        statement += QStringLiteral(" PhoneNumber=:PhoneNumber");
    }
    if (postgres) statement += QStringLiteral(" order by id");
    QSqlQuery& query = connection.prepare(statement);
    if (!devSN.isEmpty()) query.bindValue(QStringLiteral(":devSN"), devSN);
    if (!PhoneNumber.isEmpty()) query.bindValue(QStringLiteral(":PhoneNumber"), PhoneNumber);
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    readList(*rows, devices, trimConfigCmd);
    return true;
}

// The lookup through Qt's driver, where there is no SQLite statement to step.
Tab_DeviceInfo::RowState lookupBySN(PooledConnection& connection, struDeviceInfo& device,
                                    const QString& devSN) {
    static const QString statement = QString::fromLatin1(DeviceColumns::selectBySN());
    QSqlQuery& query = connection.prepare(statement);
    query.bindValue(0, devSN);
    QSqlQuery* row = connection.read(query);
    if (!row) {
        qDebug("query device fail ");
        return Tab_DeviceInfo::RowState::Failed;
    }
    if (!row->next()) return Tab_DeviceInfo::RowState::Missing;
    DeviceColumns::read(*row, DeviceColumns::selectBySNPositions(), device);
    return Tab_DeviceInfo::RowState::Found;
}

// Runs one prepared write and reports whether it touched a row; false also when it failed.
bool execWrite(QSqlQuery& query, bool& failed) {
    failed = !query.exec();
    return !failed && query.numRowsAffected() > 0;
}

// One update on a borrowed connection, prepared and bound by prepare; true when it changed a
// row. failed, when given, tells a statement that could not run from one that matched nothing.
bool updateRow(const std::function<QSqlQuery&(PooledConnection&)>& prepare,
               bool* failed = nullptr) {
    PooledConnection connection;
    if (!connection.checkUsable()) {
        if (failed) *failed = true;
        return false;
    }
    bool execFailed = false;
    const bool written = execWrite(prepare(connection), execFailed);
    if (execFailed) qDebug("update Tab_DeviceInfo fail ");
    if (failed) *failed = execFailed;
    return written;
}
}  // namespace

using Write = DeviceColumns::Write;

bool Tab_DeviceInfo::insertDevice(const struDeviceInfo& device) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(DeviceColumns::statement(Write::InsertWithTime));
    DeviceColumns::bind(query, Write::InsertWithTime, device);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("insert device fail ");
    return written;
}

bool Tab_DeviceInfo::saveDevice(const struDeviceInfo& device, bool pin) {
    if (device.devSN.isEmpty()) return false;
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& countQuery = connection.prepare(kCount);
    countQuery.bindValue(QStringLiteral(":devSN"), device.devSN);
    QSqlQuery* count = connection.read(countQuery);
    if (!count) {
        qDebug("query device fail ");
        return false;
    }
    if (!count->next() || !count->value(0).isValid()) return false;
    const int rows = count->value(0).toInt();
    count->finish();  // release the read before writing

    const Write statement = rows < 1 ? Write::Insert : Write::Update;
    struDeviceInfo row = device;
    row.IdentityPinned = pin && !device.devId.isEmpty();
    QSqlQuery& write = connection.prepare(DeviceColumns::statement(statement));
    DeviceColumns::bind(write, statement, row);
    bool failed = false;
    bool written = execWrite(write, failed);
    if (written && statement == Write::Update && row.IdentityPinned) {
        QSqlQuery& pin = connection.prepare(kPin);
        pin.bindValue(QStringLiteral(":devSN"), device.devSN);
        written = execWrite(pin, failed);
    }
    if (failed) qDebug("insert device fail ");
    return written;
}

bool Tab_DeviceInfo::getAllDevices(QList<struDeviceInfo>& devices) {
    return listDevices(devices, QString(), QString(), true);
}

bool Tab_DeviceInfo::queryDevices(QList<struDeviceInfo>& devices, const QString& devSN,
                                  const QString& PhoneNumber) {
    return listDevices(devices, devSN, PhoneNumber, false);
}

Tab_DeviceInfo::RowState Tab_DeviceInfo::getDeviceBySN(struDeviceInfo& device,
                                                       const QString& devSN) {
    PooledConnection connection;
    if (!connection.checkUsable()) return RowState::Failed;
    if (SqlDialect::isPostgreSQL(connection.database()))
        return lookupBySN(connection, device, devSN);
    sqlite3_stmt* stmt = connection.prepareRaw(DeviceColumns::selectBySN());
    if (!stmt) {
        qDebug("query device fail ");
        return RowState::Failed;
    }
    const QByteArray serial = devSN.toUtf8();
    sqlite3_bind_text(stmt, 1, serial.constData(), serial.size(), SQLITE_STATIC);
    const int step = sqlite3_step(stmt);
    if (step == SQLITE_ROW) {
        DeviceColumns::readRaw(stmt, device);
        return RowState::Found;
    }
    if (step == SQLITE_DONE) return RowState::Missing;
    qDebug("query device fail ");
    return RowState::Failed;
}

bool Tab_DeviceInfo::clearAutoUpdate() {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(kClearAutoUpdate);
    query.bindValue(QStringLiteral(":isAutoUpdate"), 0);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("update Tab_DeviceInfo fail ");
    return written;
}

bool Tab_DeviceInfo::refreshFromReport(const struDeviceInfo& report, bool pin) {
    const Write statement = pin ? Write::ReportPin : Write::Report;
    struDeviceInfo row = report;
    row.IdentityPinned = true;  // bound by the pinning statement only
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(DeviceColumns::statement(statement));
        DeviceColumns::bind(query, statement, row);
        return query;
    });
}

bool Tab_DeviceInfo::completeUpgrade(const QString& devSN, qint32 completionTime) {
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(kCompleteUpgrade);
        query.bindValue(QStringLiteral(":UpgradeCompletionTime"), completionTime);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        return query;
    });
}

bool Tab_DeviceInfo::clearConfigCmd(const QString& devSN, const QString& sentCommand) {
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(kClearConfigCmd);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        query.bindValue(QStringLiteral(":ConfigCmd"), sentCommand);
        return query;
    });
}

bool Tab_DeviceInfo::clearFileRequest(const QString& devSN, bool struDeviceInfo::*flag) {
    const char* column = DeviceColumns::nameOf(flag);
    if (!column) return false;
    const QString statement = QStringLiteral("update Tab_DeviceInfo set %1=0 where devSN=:devSN")
                                  .arg(QLatin1String(column));
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(statement);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        return query;
    });
}

Tab_DeviceInfo::RowState Tab_DeviceInfo::releasePin(const QString& devSN) {
    bool failed = false;
    const bool changed = updateRow(
        [&](PooledConnection& connection) -> QSqlQuery& {
            QSqlQuery& query = connection.prepare(kReleasePin);
            query.bindValue(QStringLiteral(":devSN"), devSN);
            return query;
        },
        &failed);
    if (failed) return RowState::Failed;
    return changed ? RowState::Found : RowState::Missing;
}

bool Tab_DeviceInfo::updateDevice(const struDeviceInfo& device) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(DeviceColumns::statement(Write::UpdateWithTime));
    DeviceColumns::bind(query, Write::UpdateWithTime, device);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("update Tab_DeviceInfo fail ");
    return written;
}
