#include "db/Tab_DeviceInfo.h"

#include <sqlite3.h>

#include <QDebug>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/PooledConnection.h"

namespace {
const QString kInsertWithTime = QStringLiteral(
    "insert into "
    "Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,McuVersion,"
    "FourGVersion,GnssVersion,SmartModule,Reserve,isAutoUpdate,ConfigCmd,UpgradeCompletionTime,"
    "GetLogFile,GetIndexFile,GetPrintFile,GetRunInfoFile)"
    " values(:devId,:devSN,:devType,:LicensePlateNumber,:PhoneNumber,:AppVersion,:McuVersion,"
    ":FourGVersion,:GnssVersion,:SmartModule,:Reserve,:isAutoUpdate,:ConfigCmd,"
    ":UpgradeCompletionTime,:GetLogFile,:GetIndexFile,:GetPrintFile,:GetRunInfoFile)");
const QString kCount = QStringLiteral("select Count(1) from Tab_DeviceInfo where devSN=:devSN");
const QString kInsert = QStringLiteral(
    "insert into "
    "Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,McuVersion,"
    "FourGVersion,GnssVersion,SmartModule,Reserve,isAutoUpdate,ConfigCmd,GetLogFile,"
    "GetIndexFile,GetPrintFile,GetRunInfoFile)"
    " values(:devId,:devSN,:devType,:LicensePlateNumber,:PhoneNumber,:AppVersion,:McuVersion,"
    ":FourGVersion,:GnssVersion,:SmartModule,:Reserve,:isAutoUpdate,:ConfigCmd,:GetLogFile,"
    ":GetIndexFile,:GetPrintFile,:GetRunInfoFile)");
const QString kUpdateHead = QStringLiteral(
    "update Tab_DeviceInfo set "
    "devId=:devId,devType=:devType,LicensePlateNumber=:LicensePlateNumber,"
    "PhoneNumber=:PhoneNumber,AppVersion=:AppVersion,"
    "McuVersion=:McuVersion,FourGVersion=:FourGVersion,GnssVersion=:GnssVersion,"
    "SmartModule=:SmartModule,Reserve=:Reserve,");
const QString kUpdateTail = QStringLiteral(
    "GetIndexFile=:GetIndexFile,GetPrintFile=:GetPrintFile,GetRunInfoFile=:GetRunInfoFile "
    "where devSN=:devSN");
const QString kUpdate = kUpdateHead +
                        QStringLiteral(
                            "isAutoUpdate=:isAutoUpdate,ConfigCmd=:ConfigCmd,"
                            "GetLogFile=:GetLogFile,") +
                        kUpdateTail;
const QString kUpdateWithTime =
    kUpdateHead +
    QStringLiteral(
        "isAutoUpdate=:isAutoUpdate,ConfigCmd=:ConfigCmd,"
        "UpgradeCompletionTime=:UpgradeCompletionTime,GetLogFile=:GetLogFile,") +
    kUpdateTail;
const QString kList = QStringLiteral("select rowid as row_num,* from Tab_DeviceInfo");
// The stored fields in the order readRawDevice reads them.
const char kSelectBySNRaw[] =
    "select id,devId,devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,McuVersion,"
    "FourGVersion,GnssVersion,SmartModule,Reserve,isAutoUpdate,ConfigCmd,"
    "UpgradeCompletionTime,GetLogFile,GetIndexFile,GetPrintFile,GetRunInfoFile "
    "from Tab_DeviceInfo where devSN=?";
const QString kClearAutoUpdate =
    QStringLiteral("update Tab_DeviceInfo set isAutoUpdate=:isAutoUpdate");

// An empty text is stored as '' rather than NULL, so lookups by text behave the same for both.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

void bindDevice(QSqlQuery& query, const struDeviceInfo& d, bool withCompletionTime) {
    query.bindValue(QStringLiteral(":devId"), text(d.devId));
    query.bindValue(QStringLiteral(":devSN"), text(d.devSN));
    query.bindValue(QStringLiteral(":devType"), text(d.devType));
    query.bindValue(QStringLiteral(":LicensePlateNumber"), text(d.LicensePlateNumber));
    query.bindValue(QStringLiteral(":PhoneNumber"), text(d.PhoneNumber));
    query.bindValue(QStringLiteral(":AppVersion"), text(d.AppVersion));
    query.bindValue(QStringLiteral(":McuVersion"), text(d.McuVersion));
    query.bindValue(QStringLiteral(":FourGVersion"), text(d.FourGVersion));
    query.bindValue(QStringLiteral(":GnssVersion"), text(d.GnssVersion));
    query.bindValue(QStringLiteral(":SmartModule"), text(d.SmartModule));
    query.bindValue(QStringLiteral(":Reserve"), text(d.Reserve));
    query.bindValue(QStringLiteral(":isAutoUpdate"), d.isAutoUpdate);
    query.bindValue(QStringLiteral(":ConfigCmd"), text(d.ConfigCmd));
    if (withCompletionTime)
        query.bindValue(QStringLiteral(":UpgradeCompletionTime"), d.UpgradeCompletionTime);
    query.bindValue(QStringLiteral(":GetLogFile"), d.GetLogFile);
    query.bindValue(QStringLiteral(":GetIndexFile"), d.GetIndexFile);
    query.bindValue(QStringLiteral(":GetPrintFile"), d.GetPrintFile);
    query.bindValue(QStringLiteral(":GetRunInfoFile"), d.GetRunInfoFile);
}

// Column positions by name, found in one pass over the result's columns (QSqlRecord::indexOf
// per field costs more than the lookup by serial number itself).
struct DeviceColumns {
    explicit DeviceColumns(const QSqlRecord& r);
    int row_num = -1, id = -1, devId = -1, devSN = -1, devType = -1, LicensePlateNumber = -1,
        PhoneNumber = -1, AppVersion = -1, McuVersion = -1, FourGVersion = -1, GnssVersion = -1,
        SmartModule = -1, Reserve = -1, isAutoUpdate = -1, ConfigCmd = -1,
        UpgradeCompletionTime = -1, GetLogFile = -1, GetIndexFile = -1, GetPrintFile = -1,
        GetRunInfoFile = -1;
};

DeviceColumns::DeviceColumns(const QSqlRecord& r) {
    static const QHash<QString, int DeviceColumns::*> kColumns{
        {QStringLiteral("row_num"), &DeviceColumns::row_num},
        {QStringLiteral("id"), &DeviceColumns::id},
        {QStringLiteral("devId"), &DeviceColumns::devId},
        {QStringLiteral("devSN"), &DeviceColumns::devSN},
        {QStringLiteral("devType"), &DeviceColumns::devType},
        {QStringLiteral("LicensePlateNumber"), &DeviceColumns::LicensePlateNumber},
        {QStringLiteral("PhoneNumber"), &DeviceColumns::PhoneNumber},
        {QStringLiteral("AppVersion"), &DeviceColumns::AppVersion},
        {QStringLiteral("McuVersion"), &DeviceColumns::McuVersion},
        {QStringLiteral("FourGVersion"), &DeviceColumns::FourGVersion},
        {QStringLiteral("GnssVersion"), &DeviceColumns::GnssVersion},
        {QStringLiteral("SmartModule"), &DeviceColumns::SmartModule},
        {QStringLiteral("Reserve"), &DeviceColumns::Reserve},
        {QStringLiteral("isAutoUpdate"), &DeviceColumns::isAutoUpdate},
        {QStringLiteral("ConfigCmd"), &DeviceColumns::ConfigCmd},
        {QStringLiteral("UpgradeCompletionTime"), &DeviceColumns::UpgradeCompletionTime},
        {QStringLiteral("GetLogFile"), &DeviceColumns::GetLogFile},
        {QStringLiteral("GetIndexFile"), &DeviceColumns::GetIndexFile},
        {QStringLiteral("GetPrintFile"), &DeviceColumns::GetPrintFile},
        {QStringLiteral("GetRunInfoFile"), &DeviceColumns::GetRunInfoFile},
    };
    for (int i = 0; i < r.count(); ++i) {
        const auto column = kColumns.constFind(r.fieldName(i));
        if (column != kColumns.constEnd()) this->*column.value() = i;
    }
}

// The stored fields of the current row; row_num and the memory-only fields are left alone.
void readDevice(const QSqlQuery& q, const DeviceColumns& c, struDeviceInfo& d) {
    d.id = q.value(c.id).toInt();
    d.devId = q.value(c.devId).toString();
    d.devSN = q.value(c.devSN).toString();
    d.devType = q.value(c.devType).toString();
    d.LicensePlateNumber = q.value(c.LicensePlateNumber).toString();
    d.PhoneNumber = q.value(c.PhoneNumber).toString();
    d.AppVersion = q.value(c.AppVersion).toString();
    d.McuVersion = q.value(c.McuVersion).toString();
    d.FourGVersion = q.value(c.FourGVersion).toString();
    d.GnssVersion = q.value(c.GnssVersion).toString();
    d.SmartModule = q.value(c.SmartModule).toString();
    d.Reserve = q.value(c.Reserve).toString();
    d.isAutoUpdate = q.value(c.isAutoUpdate).toBool();
    d.ConfigCmd = q.value(c.ConfigCmd).toString();
    d.UpgradeCompletionTime = q.value(c.UpgradeCompletionTime).toInt();
    d.GetLogFile = q.value(c.GetLogFile).toBool();
    d.GetIndexFile = q.value(c.GetIndexFile).toBool();
    d.GetPrintFile = q.value(c.GetPrintFile).toBool();
    d.GetRunInfoFile = q.value(c.GetRunInfoFile).toBool();
}

QString textColumn(sqlite3_stmt* stmt, int column) {
    const void* text = sqlite3_column_text16(stmt, column);
    return QString(static_cast<const QChar*>(text),
                   sqlite3_column_bytes16(stmt, column) / static_cast<int>(sizeof(QChar)));
}

// A column as Qt's SQLite driver gives it, so that a value stored with an unusual type (text in
// a flag column, say) converts exactly as it does through QSqlQuery.
QVariant rawValue(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, column)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, column));
        case SQLITE_NULL:
            return QVariant(QVariant::String);
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                              sqlite3_column_bytes(stmt, column));
        default:
            return textColumn(stmt, column);
    }
}

QString rawText(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) != SQLITE_TEXT) return rawValue(stmt, column).toString();
    return textColumn(stmt, column);
}

int rawInt(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_INTEGER)
        return static_cast<int>(sqlite3_column_int64(stmt, column));
    return rawValue(stmt, column).toInt();
}

bool rawBool(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_INTEGER)
        return sqlite3_column_int64(stmt, column) != 0;
    return rawValue(stmt, column).toBool();
}

void readRawDevice(sqlite3_stmt* stmt, struDeviceInfo& d) {
    d.id = rawInt(stmt, 0);
    d.devId = rawText(stmt, 1);
    d.devSN = rawText(stmt, 2);
    d.devType = rawText(stmt, 3);
    d.LicensePlateNumber = rawText(stmt, 4);
    d.PhoneNumber = rawText(stmt, 5);
    d.AppVersion = rawText(stmt, 6);
    d.McuVersion = rawText(stmt, 7);
    d.FourGVersion = rawText(stmt, 8);
    d.GnssVersion = rawText(stmt, 9);
    d.SmartModule = rawText(stmt, 10);
    d.Reserve = rawText(stmt, 11);
    d.isAutoUpdate = rawBool(stmt, 12);
    d.ConfigCmd = rawText(stmt, 13);
    d.UpgradeCompletionTime = rawInt(stmt, 14);
    d.GetLogFile = rawBool(stmt, 15);
    d.GetIndexFile = rawBool(stmt, 16);
    d.GetPrintFile = rawBool(stmt, 17);
    d.GetRunInfoFile = rawBool(stmt, 18);
}

void readList(QSqlQuery& query, QList<struDeviceInfo>& devices, bool trimConfigCmd) {
    devices.clear();
    const DeviceColumns columns(query.record());
    while (query.next()) {
        struDeviceInfo device;
        device.row_num = query.value(columns.row_num).toInt();
        readDevice(query, columns, device);
        if (trimConfigCmd) device.ConfigCmd = device.ConfigCmd.trimmed();
        devices.append(device);
    }
}

// The list statements: empty filters are left out. Only the plain device list shows the
// command trimmed; the search shows it as stored.
bool listDevices(QList<struDeviceInfo>& devices, const QString& devSN, const QString& PhoneNumber,
                 bool trimConfigCmd) {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QString statement = kList;
    if (!devSN.isEmpty()) statement += QStringLiteral(" where devSN=:devSN");
    if (!PhoneNumber.isEmpty()) {
        statement += devSN.isEmpty() ? QStringLiteral(" where") : QStringLiteral(" and");
        statement += QStringLiteral(" PhoneNumber=:PhoneNumber");
    }
    QSqlQuery& query = connection.prepare(statement);
    if (!devSN.isEmpty()) query.bindValue(QStringLiteral(":devSN"), devSN);
    if (!PhoneNumber.isEmpty()) query.bindValue(QStringLiteral(":PhoneNumber"), PhoneNumber);
    if (!query.exec()) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    readList(query, devices, trimConfigCmd);
    return true;
}

// Runs one prepared write and reports whether it touched a row; false also when it failed.
bool execWrite(QSqlQuery& query, bool& failed) {
    failed = !query.exec();
    return !failed && query.numRowsAffected() > 0;
}
}  // namespace

bool Tab_DeviceInfo::insertDevice(const struDeviceInfo& device) {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QSqlQuery& query = connection.prepare(kInsertWithTime);
    bindDevice(query, device, true);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("insert device fail ");
    return written;
}

bool Tab_DeviceInfo::saveDevice(const struDeviceInfo& device) {
    if (device.devSN.isEmpty()) return false;
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QSqlQuery& count = connection.prepare(kCount);
    count.bindValue(QStringLiteral(":devSN"), device.devSN);
    if (!count.exec()) {
        qDebug("query device fail ");
        return false;
    }
    if (!count.next() || !count.value(0).isValid()) return false;
    const int rows = count.value(0).toInt();
    count.finish();  // release the read before writing

    QSqlQuery& write = connection.prepare(rows < 1 ? kInsert : kUpdate);
    bindDevice(write, device, false);
    bool failed = false;
    const bool written = execWrite(write, failed);
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

bool Tab_DeviceInfo::getDeviceBySN(struDeviceInfo& device, const QString& devSN) {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    sqlite3_stmt* stmt = connection.prepareRaw(kSelectBySNRaw);
    if (!stmt) {
        qDebug("query device fail ");
        return false;
    }
    const QByteArray serial = devSN.toUtf8();
    sqlite3_bind_text(stmt, 1, serial.constData(), serial.size(), SQLITE_STATIC);
    const int step = sqlite3_step(stmt);
    if (step == SQLITE_ROW) {
        readRawDevice(stmt, device);
        return true;
    }
    if (step != SQLITE_DONE) qDebug("query device fail ");
    return false;
}

bool Tab_DeviceInfo::clearAutoUpdate() {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QSqlQuery& query = connection.prepare(kClearAutoUpdate);
    query.bindValue(QStringLiteral(":isAutoUpdate"), false);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("update Tab_DeviceInfo fail ");
    return written;
}

bool Tab_DeviceInfo::updateDevice(const struDeviceInfo& device) {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QSqlQuery& query = connection.prepare(kUpdateWithTime);
    bindDevice(query, device, true);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("update Tab_DeviceInfo fail ");
    return written;
}
