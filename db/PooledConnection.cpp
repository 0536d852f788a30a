#include "db/PooledConnection.h"

#include <sqlite3.h>

#include "db/SQLiteDb.h"
#include "db/StatementCache.h"

PooledConnection::PooledConnection() : m_pool(SQLiteDb::instance()) {
    if (!m_pool) return;
    m_connection = m_pool->openConnection();
    m_timer.start();
    if (m_connection.isValid()) m_statements = m_pool->statements(m_connection);
}

PooledConnection::~PooledConnection() {
    for (QSqlQuery* query : m_used) query->finish();
    for (sqlite3_stmt* stmt : m_usedRaw) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    if (m_pool && m_connection.isValid()) m_pool->closeConnection(m_connection);
}

bool PooledConnection::isUsable() const {
    return m_statements && m_connection.isValid() && m_connection.isOpen();
}

QSqlQuery& PooledConnection::prepare(const QString& sql) {
    Q_ASSERT(m_statements);
    QSqlQuery& query = m_statements->prepare(sql);
    m_used.push_back(&query);
    return query;
}

sqlite3_stmt* PooledConnection::prepareRaw(const char* sql) {
    Q_ASSERT(m_statements);
    sqlite3_stmt* stmt = m_statements->prepareRaw(sql);
    if (stmt) m_usedRaw.push_back(stmt);
    return stmt;
}
