#include "PooledConnection.h"

#include "SQLiteDb.h"
#include "StatementCache.h"

PooledConnection::PooledConnection() : m_pool(SQLiteDb::instance()) {
    if (!m_pool) return;
    m_connection = m_pool->openConnection();
    if (m_connection.isValid()) m_statements = m_pool->statements(m_connection);
}

PooledConnection::~PooledConnection() {
    for (QSqlQuery* query : m_used) query->finish();
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
