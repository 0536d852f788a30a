#include "db/DbSchema.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>

#include "db/PooledConnection.h"

namespace {
const char* const kDeviceTable =
    "create table Tab_DeviceInfo("
    "id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "devId TEXT,devSN TEXT,devType TEXT,LicensePlateNumber TEXT,PhoneNumber TEXT,"
    "AppVersion TEXT,McuVersion TEXT,FourGVersion TEXT,GnssVersion TEXT,SmartModule TEXT,"
    "Reserve TEXT,isAutoUpdate INTEGER DEFAULT 0,ConfigCmd TEXT,"
    "UpgradeCompletionTime INTEGER DEFAULT 0,GetLogFile INTEGER DEFAULT 0,"
    "GetIndexFile INTEGER DEFAULT 0,GetPrintFile INTEGER DEFAULT 0,"
    "GetRunInfoFile INTEGER DEFAULT 0)";
// Every single-device statement selects by devSN; without it each one scans the whole table.
const char* const kDeviceIndex = "create index idx_DeviceInfo_devSN on Tab_DeviceInfo(devSN)";

const char* const kPackageTable =
    "create table Tab_Package("
    "id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "packageName TEXT,AppVersion TEXT,McuVersion TEXT,FourGVersion TEXT,GnssVersion TEXT,"
    "SmartModule TEXT,Reserve TEXT,packagePath TEXT,uploadTime INTEGER DEFAULT 0,"
    "size INTEGER DEFAULT 0,deviceType TEXT)";

bool createIfMissing(QSqlDatabase& db, const QString& table, const QStringList& statements) {
    if (db.tables().contains(table)) return true;
    QSqlQuery query(db);
    for (const QString& statement : statements)
        if (!query.exec(statement)) return false;
    return true;
}
}  // namespace

bool DbSchema::ensure() {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    QSqlDatabase& db = connection.database();
    const bool created =
        createIfMissing(db, QStringLiteral("Tab_DeviceInfo"),
                        {QString::fromLatin1(kDeviceTable), QString::fromLatin1(kDeviceIndex)}) &&
        createIfMissing(db, QStringLiteral("Tab_Package"), {QString::fromLatin1(kPackageTable)});
    if (!created) qDebug("[DbSchema] create table fail");
    return created;
}
