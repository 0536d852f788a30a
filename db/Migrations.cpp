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

// A serial number is tied to the device ID it first reported with. Rows that never stored a
// device ID pin at their next report.
bool identityPin(QSqlDatabase& db) {
    return execAll(
        db,
        {QStringLiteral("alter table Tab_DeviceInfo add column IdentityPinned INTEGER DEFAULT 1"),
         QStringLiteral(
             "update Tab_DeviceInfo set IdentityPinned=0 where devId is null or devId=''")});
}

// Operator accounts, browser sessions and API tokens. Secrets appear only as hashes.
bool accessTables(QSqlDatabase& db) {
    return execAll(
        db, {QStringLiteral("create table Tab_Account("
                            "id INTEGER PRIMARY KEY AUTOINCREMENT,name TEXT NOT NULL UNIQUE,"
                            "role TEXT NOT NULL,passwordHash TEXT NOT NULL,"
                            "mustChangePassword INTEGER DEFAULT 0,createdAt INTEGER DEFAULT 0)"),
             QStringLiteral("create table Tab_Session("
                            "idHash TEXT PRIMARY KEY,accountId INTEGER NOT NULL,csrfToken TEXT,"
                            "createdAt INTEGER DEFAULT 0,lastSeenAt INTEGER DEFAULT 0)"),
             QStringLiteral("create index idx_Session_account on Tab_Session(accountId)"),
             QStringLiteral("create table Tab_ApiToken("
                            "id INTEGER PRIMARY KEY AUTOINCREMENT,name TEXT NOT NULL UNIQUE,"
                            "role TEXT NOT NULL,tokenHash TEXT NOT NULL UNIQUE,createdBy TEXT,"
                            "createdAt INTEGER DEFAULT 0,expiresAt INTEGER DEFAULT 0,"
                            "lastUsedAt INTEGER DEFAULT 0)")});
}

// The audit trail: rows are added, never changed or removed, not even by a stray statement.
bool auditTable(QSqlDatabase& db) {
    return execAll(
        db, {QStringLiteral("create table Tab_AuditLog("
                            "id INTEGER PRIMARY KEY AUTOINCREMENT,at INTEGER NOT NULL,account TEXT,"
                            "address TEXT,route TEXT,action TEXT NOT NULL,summary TEXT)"),
             QStringLiteral("create index idx_AuditLog_account on Tab_AuditLog(account)"),
             QStringLiteral("create index idx_AuditLog_action on Tab_AuditLog(action)"),
             QStringLiteral("create trigger trg_AuditLog_keep_update before update on Tab_AuditLog "
                            "begin select raise(abort,'audit rows are kept as written'); end"),
             QStringLiteral("create trigger trg_AuditLog_keep_delete before delete on Tab_AuditLog "
                            "begin select raise(abort,'audit rows are kept as written'); end")});
}
}  // namespace

const std::vector<Migration>& allMigrations() {
    static const std::vector<Migration> steps{
        {1, "original device and package tables", originalTables},
        {2, "device identity pinned to its first device ID", identityPin},
        {4, "operator accounts, sessions and API tokens", accessTables},
        {5, "audit trail", auditTable},
    };
    return steps;
}
