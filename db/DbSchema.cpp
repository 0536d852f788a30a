#include "db/DbSchema.h"

#include <QDateTime>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "db/Migrations.h"
#include "db/PooledConnection.h"

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
    qDebug().noquote() << "[DbSchema] step" << step.version << "failed:" << db.lastError().text()
                       << record.lastError().text();
    db.rollback();
    return false;
}
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
    const int current = currentVersion(db);
    if (current < 0) return false;
    const int newest = steps.empty() ? 0 : steps.back().version;
    if (current > newest) {
        qDebug("[DbSchema] database schema %d is newer than this program's %d", current, newest);
        return false;
    }
    for (const Migration& step : steps) {
        if (step.version <= current) continue;
        if (!applyStep(db, step)) return false;
        qDebug("[DbSchema] applied step %d: %s", step.version, step.summary);
    }
    return true;
}

bool DbSchema::ensure() {
    PooledConnection connection;
    if (!connection.isUsable()) {
        qDebug("Open the database fail");
        return false;
    }
    const bool migrated = migrate(connection.database(), allMigrations());
    if (!migrated) qDebug("[DbSchema] create table fail");
    return migrated;
}
