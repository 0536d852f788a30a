#include "db/SqlDialect.h"

#include <QSqlDriver>
#include <QStringList>

SqlDialect::Kind SqlDialect::of(const QSqlDatabase& db) {
    const QSqlDriver* driver = db.driver();
    return driver && driver->dbmsType() == QSqlDriver::PostgreSQL ? PostgreSQL : SQLite;
}

bool SqlDialect::hasTable(const QSqlDatabase& db, const QString& table) {
    return db.tables().contains(table, Qt::CaseInsensitive);
}
