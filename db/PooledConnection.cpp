#include "PooledConnection.h"

#include "SQLiteDb.h"

PooledConnection::PooledConnection() : m_pool(SQLiteDb::instance()) {
    if (m_pool) m_connection = m_pool->openConnection();
}

PooledConnection::~PooledConnection() {
    if (m_pool && m_connection.isValid()) m_pool->closeConnection(m_connection);
}

bool PooledConnection::isUsable() const {
    return m_connection.isValid() && m_connection.isOpen();
}
