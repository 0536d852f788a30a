#include "db/DbSchema.h"

#include <QDateTime>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "db/Migrations.h"
#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "db/SqlDialect.h"

namespace {
// Each step's compatibility is stored with its record: a program that does not know a newer
// step reads from here whether it may run on the database.
const char* const kVersionTable =
    "create table if not exists Tab_SchemaVersion("
    "version INTEGER PRIMARY KEY,summary TEXT,appliedAt INTEGER,compatible INTEGER DEFAULT 0)";

// A version table from before compatibility was stored gets the column; its steps stay
// incompatible, as they were treated then.
bool versionTableReady(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QString::fromLatin1(kVersionTable))) return false;
    if (query.exec(QStringLiteral("select compatible from Tab_SchemaVersion where 0=1")))
        return true;
    return query.exec(
        QStringLiteral("alter table Tab_SchemaVersion add column compatible INTEGER DEFAULT 0"));
}

// Newer steps than this program knows that it cannot run on; -1 when they cannot be read.
int incompatibleAfter(QSqlDatabase& db, int newest) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "select count(*) from Tab_SchemaVersion where version>? and coalesce(compatible,0)=0"));
    query.addBindValue(newest);
    return query.exec() && query.next() ? query.value(0).toInt() : -1;
}

bool applyStep(QSqlDatabase& db, const Migration& step) {
    if (!db.transaction()) return false;
    QSqlQuery record(db);
    record.prepare(QStringLiteral(
        "insert into Tab_SchemaVersion(version,summary,appliedAt,compatible) values(?,?,?,?)"));
    record.addBindValue(step.version);
    record.addBindValue(QString::fromUtf8(step.summary));
    record.addBindValue(QDateTime::currentSecsSinceEpoch());
    record.addBindValue(step.compatible ? 1 : 0);
    if (step.apply(db) && record.exec() && db.commit()) return true;
    qCritical().noquote() << "[DbSchema] step" << step.version << "failed:" << db.lastError().text()
                          << record.lastError().text();
    db.rollback();
    return false;
}

// Several instances may share a PostgreSQL database and start together: one migrates at a time,
// and the others find the steps recorded.
class MigrationLock {
  public:
    explicit MigrationLock(QSqlDatabase& db) : m_db(db) {
        if (SqlDialect::isPostgreSQL(db))
            m_held = QSqlQuery(db).exec(QStringLiteral("select pg_advisory_lock(%1)").arg(kKey));
    }
    ~MigrationLock() {
        if (m_held) QSqlQuery(m_db).exec(QStringLiteral("select pg_advisory_unlock(%1)").arg(kKey));
    }
    MigrationLock(const MigrationLock&) = delete;
    MigrationLock& operator=(const MigrationLock&) = delete;

  private:
    static constexpr qint64 kKey = 0x57465344420001;  // this program's schema
    QSqlDatabase& m_db;
    bool m_held = false;
};
}  // namespace

int DbSchema::currentVersion(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!versionTableReady(db) ||
        !query.exec(QStringLiteral("select coalesce(max(version),0) from Tab_SchemaVersion")) ||
        !query.next())
        return -1;
    return query.value(0).toInt();
}

bool DbSchema::migrate(QSqlDatabase& db, const std::vector<Migration>& steps) {
    const MigrationLock lock(db);
    const int current = currentVersion(db);
    if (current < 0) return false;
    const int newest = steps.empty() ? 0 : steps.back().version;
    if (current > newest) {
        const int refused = incompatibleAfter(db, newest);
        if (refused != 0) {
            qCritical(
                "[DbSchema] database schema %d is newer than this program's %d and %d of its "
                "newer steps remove what this program uses",
                current, newest, refused);
            return false;
        }
        qInfo(
            "[DbSchema] database schema %d is newer than this program's %d; its newer steps "
            "only add, so this program runs on it",
            current, newest);
        return true;
    }
    for (const Migration& step : steps) {
        if (step.version <= current) continue;
        if (!applyStep(db, step)) return false;
        qInfo("[DbSchema] applied step %d: %s", step.version, step.summary);
    }
    qInfo("[DbSchema] database schema at step %d", newest);
    return true;
}

DbSchema::State DbSchema::prepare() {
    PooledConnection connection;
    if (!connection.checkUsable()) {
        SQLiteDb* pool = SQLiteDb::instance();
        return pool && pool->isPostgreSQL() && pool->isAway() ? State::Unreachable : State::Failed;
    }
    if (migrate(connection.database(), allMigrations())) return State::Ready;
    qCritical("[DbSchema] create table fail");
    return State::Failed;
}
