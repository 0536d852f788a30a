#include "db/Migrations.h"

#include <QSqlQuery>
#include <QStringList>

#include "db/DeviceSearch.h"

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

// The console lists, sorts and filters 100000 terminals a page at a time. The columns it sorts and
// filters by most are indexed, so such a page walks an index instead of sorting the table; the
// others sort the table's keys (a page after a cursor costs the same as the first). Every index
// is written again by each report's full-row update, hence not one per column. The terminals
// with pending requests, few among many, are counted from a partial index whose condition is the
// console's own text for them.
bool deviceConsoleColumns(QSqlDatabase& db) {
    QStringList statements{
        QStringLiteral("alter table Tab_DeviceInfo add column LastReportTime INTEGER DEFAULT 0")};
    for (const char* column : {"devType", "LicensePlateNumber", "PhoneNumber", "AppVersion",
                               "UpgradeCompletionTime", "LastReportTime"})
        statements << QStringLiteral("create index idx_DeviceInfo_%1 on Tab_DeviceInfo(%1)")
                          .arg(QLatin1String(column));
    statements << QStringLiteral(
        "create index idx_DeviceInfo_pending on Tab_DeviceInfo(id) where isAutoUpdate<>0 or "
        "coalesce(ConfigCmd,'')<>'' or (GetLogFile<>0 or GetIndexFile<>0 or GetPrintFile<>0 or "
        "GetRunInfoFile<>0)");
    return execAll(db, statements);
}

// Who is connected, to which instance of the service: a row per terminal while its connection
// lasts, so that several instances can share one database.
bool devicePresence(QSqlDatabase& db) {
    return execAll(
        db, {QStringLiteral("create table Tab_DevicePresence(devSN TEXT PRIMARY KEY,"
                            "instance TEXT NOT NULL,connectedSince INTEGER NOT NULL,"
                            "lastReport INTEGER NOT NULL,peerAddress TEXT)"),
             QStringLiteral(
                 "create index idx_DevicePresence_instance on Tab_DevicePresence(instance)")});
}

// One row per upgrade handed to a terminal; times are seconds since the epoch, 0 for not yet.
bool upgradeAttempts(QSqlDatabase& db) {
    return execAll(
        db, {QStringLiteral("create table Tab_UpgradeAttempt(id INTEGER PRIMARY KEY,"
                            "devSN TEXT NOT NULL,devType TEXT,packageId INTEGER,packageName TEXT,"
                            "fromAppVersion TEXT,fromMcuVersion TEXT,fromFourGVersion TEXT,"
                            "fromGnssVersion TEXT,fromSmartModule TEXT,url TEXT,"
                            "startedAt INTEGER NOT NULL,lastProgress INTEGER DEFAULT 0,"
                            "lastProgressAt INTEGER DEFAULT 0,completedAt INTEGER DEFAULT 0,"
                            "isCurrent INTEGER DEFAULT 1)"),
             QStringLiteral(
                 "create index idx_UpgradeAttempt_devSN on Tab_UpgradeAttempt(devSN,isCurrent)"),
             QStringLiteral(
                 "create index idx_UpgradeAttempt_package on Tab_UpgradeAttempt(packageId)")});
}

bool deviceSearch(QSqlDatabase& db) {
    return execAll(db, DeviceSearch::createStatements());
}

// Each package's SHA-256, taken as its blocks arrive.
bool packageDigest(QSqlDatabase& db) {
    return execAll(db,
                   {QStringLiteral("alter table Tab_Package add column sha256 TEXT DEFAULT ''")});
}

// A package's rollout plan, its stages and the serial numbers its listed stages name. Keyed by
// the package row, which an upload for the same type keeps.
bool rolloutPlans(QSqlDatabase& db) {
    return execAll(
        db, {QStringLiteral("create table Tab_RolloutPlan(packageId INTEGER PRIMARY KEY,"
                            "packageName TEXT NOT NULL,state TEXT NOT NULL,"
                            "openStages INTEGER NOT NULL,pauseAtFailures INTEGER DEFAULT 0,"
                            "pauseAtFailurePercent INTEGER DEFAULT 0,"
                            "failuresAccepted INTEGER DEFAULT 0,pausedAt INTEGER DEFAULT 0,"
                            "pauseReason TEXT,createdAt INTEGER NOT NULL,createdBy TEXT,"
                            "changedAt INTEGER NOT NULL)"),
             QStringLiteral("create table Tab_RolloutStage(packageId INTEGER NOT NULL,"
                            "position INTEGER NOT NULL,sharePoints INTEGER DEFAULT 0,"
                            "filterJson TEXT,listed INTEGER DEFAULT 0,minSeconds INTEGER DEFAULT 0,"
                            "successPercent INTEGER DEFAULT 100,openedAt INTEGER DEFAULT 0,"
                            "primary key(packageId,position))"),
             QStringLiteral("create table Tab_RolloutMember(packageId INTEGER NOT NULL,"
                            "devSN TEXT NOT NULL,position INTEGER NOT NULL,"
                            "primary key(packageId,devSN))")});
}

// How an upgrade ended, judged at the terminal's first report after it reported 100 (on another
// connection): succeeded or reverted; '' until then.
bool attemptOutcomes(QSqlDatabase& db) {
    return execAll(
        db,
        {QStringLiteral("alter table Tab_UpgradeAttempt add column outcome TEXT DEFAULT ''"),
         QStringLiteral("alter table Tab_UpgradeAttempt add column outcomeAt INTEGER DEFAULT 0")});
}

// Each terminal's last upgrade decision and its reason, counted per device type.
bool upgradeDecisions(QSqlDatabase& db) {
    return execAll(
        db, {QStringLiteral("create table Tab_UpgradeDecision(devSN TEXT PRIMARY KEY,"
                            "decidedAt INTEGER NOT NULL,devType TEXT,packageId INTEGER DEFAULT 0,"
                            "packageName TEXT,offered INTEGER DEFAULT 0,reason TEXT NOT NULL,"
                            "detail TEXT)"),
             QStringLiteral("create index idx_UpgradeDecision_type on "
                            "Tab_UpgradeDecision(devType,reason)")});
}
}  // namespace

const std::vector<Migration>& allMigrations() {
    static const std::vector<Migration> steps{
        {1, "original device and package tables", originalTables},
        {2, "device identity pinned to its first device ID", identityPin},
        {3, "SHA-256 of each package", packageDigest},
        {4, "operator accounts, sessions and API tokens", accessTables},
        {5, "audit trail", auditTable},
        {6, "device last report time and console indexes", deviceConsoleColumns},
        {7, "device presence", devicePresence},
        {8, "upgrade attempts", upgradeAttempts},
        {9, "device substring search", deviceSearch},
        {10, "rollout plans", rolloutPlans},
        {11, "upgrade attempt outcomes", attemptOutcomes},
        {12, "upgrade decisions", upgradeDecisions},
    };
    return steps;
}
