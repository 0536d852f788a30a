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
const char* const kVersionTable =
    "create table if not exists Tab_SchemaVersion("
    "version INTEGER PRIMARY KEY,summary TEXT,appliedAt INTEGER)";

bool applyStep(QSqlDatabase& db, const Migration& step) {
    if (!db.transaction()) return false;
    QSqlQuery record(db);
    record.prepare(
        QStringLiteral("insert into Tab_SchemaVersion(version,summary,appliedAt) values(?,?,?)"));
    record.addBindValue(step.version);
    record.addBindValue(QString::fromUtf8(step.summary));
    record.addBindValue(QDateTime::currentSecsSinceEpoch());
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
    if (!query.exec(QString::fromLatin1(kVersionTable)) ||
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
        qCritical("[DbSchema] database schema %d is newer than this program's %d", current, newest);
        return false;
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
