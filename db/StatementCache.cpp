#include "db/StatementCache.h"

#include <sqlite3.h>

#include <mutex>
#include <vector>

#include <QSqlDriver>
#include <QVariant>

namespace {
std::mutex g_asideMutex;

// Never freed, so LeakSanitizer counts them as reachable.
std::vector<QSqlQuery>& aside() {
    static auto* queries = new std::vector<QSqlQuery>();
    return *queries;
}
}  // namespace

QSqlQuery& StatementCache::prepare(const QString& sql) {
    std::unique_ptr<Entry>& entry = m_statements[sql];
    if (!entry) {
        entry.reset(new Entry{QSqlQuery(m_connection), false});
        // Every statement here is read front to back once; no row cache is needed.
        entry->query.setForwardOnly(true);
    }
    if (!entry->prepared) entry->prepared = entry->query.prepare(sql);
    return entry->query;
}

sqlite3_stmt* StatementCache::prepareRaw(const char* sql) {
    sqlite3_stmt*& stmt = m_raw[sql];
    if (stmt) return stmt;
    const QSqlDriver* driver = m_connection.driver();
    const QVariant handle = driver ? driver->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
    sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
    if (!db || sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    return stmt;
}

void StatementCache::clear() {
    m_statements.clear();
    for (auto& entry : m_raw) sqlite3_finalize(entry.second);
    m_raw.clear();
}

void StatementCache::keepAside(const QSqlQuery& query) {
    std::lock_guard<std::mutex> lock(g_asideMutex);
    aside().push_back(query);  // shares the query's result, which is then never destroyed
}

void StatementCache::abandon() {
    for (auto& entry : m_statements) keepAside(entry.second->query);
    clear();
}
