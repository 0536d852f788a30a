#include "db/Migrations.h"

#include <QSqlQuery>
#include <QStringList>

namespace {
bool execAll(QSqlDatabase& db, const QStringList& statements) {
    QSqlQuery query(db);
    for (const QString& statement : statements)
        if (!query.exec(statement)) return false;
    return true;
}

// The two original tables; a database from before the version table already has them.
bool originalTables(QSqlDatabase& db) {
    QStringList statements;
    if (!db.tables().contains(QStringLiteral("Tab_DeviceInfo"))) {
        statements << QStringLiteral(
                          "create table Tab_DeviceInfo("
                          "id INTEGER PRIMARY KEY AUTOINCREMENT,"
                          "devId TEXT,devSN TEXT,devType TEXT,LicensePlateNumber TEXT,"
                          "PhoneNumber TEXT,AppVersion TEXT,McuVersion TEXT,FourGVersion TEXT,"
                          "GnssVersion TEXT,SmartModule TEXT,Reserve TEXT,"
                          "isAutoUpdate INTEGER DEFAULT 0,ConfigCmd TEXT,"
                          "UpgradeCompletionTime INTEGER DEFAULT 0,GetLogFile INTEGER DEFAULT 0,"
                          "GetIndexFile INTEGER DEFAULT 0,GetPrintFile INTEGER DEFAULT 0,"
                          "GetRunInfoFile INTEGER DEFAULT 0)")
                   // Every single-device statement selects by devSN.
                   << QStringLiteral("create index idx_DeviceInfo_devSN on Tab_DeviceInfo(devSN)");
    }
    if (!db.tables().contains(QStringLiteral("Tab_Package"))) {
        statements << QStringLiteral(
            "create table Tab_Package("
            "id INTEGER PRIMARY KEY AUTOINCREMENT,"
            "packageName TEXT,AppVersion TEXT,McuVersion TEXT,FourGVersion TEXT,"
            "GnssVersion TEXT,SmartModule TEXT,Reserve TEXT,packagePath TEXT,"
            "uploadTime INTEGER DEFAULT 0,size INTEGER DEFAULT 0,deviceType TEXT)");
    }
    return execAll(db, statements);
}

// Each package's SHA-256, taken as its blocks arrive.
bool packageDigest(QSqlDatabase& db) {
    return execAll(db,
                   {QStringLiteral("alter table Tab_Package add column sha256 TEXT DEFAULT ''")});
}
}  // namespace

const std::vector<Migration>& allMigrations() {
    static const std::vector<Migration> steps{
        {1, "original device and package tables", originalTables},
        {3, "SHA-256 of each package", packageDigest},
    };
    return steps;
}
