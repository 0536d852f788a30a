#include "db/DbReadiness.h"

#include <QVariant>

#include "db/Migrations.h"
#include "db/PooledConnection.h"

DbReadiness DbReadiness::check() {
    DbReadiness state;
    PooledConnection connection;
    QSqlQuery* query = nullptr;
    if (connection.isUsable())
        query = connection.read(
            QStringLiteral("select coalesce(max(version),0) from Tab_SchemaVersion"), {});
    // A failed read leaves the connection open when the server answered it.
    state.reachable = connection.isUsable();
    if (!query || !query->next()) {
        state.reason = state.reachable ? QStringLiteral("database schema unreadable")
                                       : QStringLiteral("database unreachable");
        return state;
    }
    const int version = query->value(0).toInt();
    const int newest = allMigrations().empty() ? 0 : allMigrations().back().version;
    if (version < newest) {
        state.reason =
            QStringLiteral("database schema %1 is older than %2").arg(version).arg(newest);
        return state;
    }
    state.ready = true;
    return state;
}
