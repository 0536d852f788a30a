#pragma once

#include <QSqlDatabase>

class SQLiteDb;

// Borrows one connection from the pool for the life of a table operation and gives it back on
// every return path, also when it turned out unusable, so the pool never waits for it.
class PooledConnection {
  public:
    PooledConnection();
    ~PooledConnection();
    PooledConnection(const PooledConnection&) = delete;
    PooledConnection& operator=(const PooledConnection&) = delete;

    // Valid and open: statements may run on database().
    bool isUsable() const;
    QSqlDatabase& database() { return m_connection; }

  private:
    SQLiteDb* m_pool = nullptr;
    QSqlDatabase m_connection;
};
