#pragma once

#include <vector>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "core/DbCallTimer.h"

struct sqlite3_stmt;
class SQLiteDb;
class StatementCache;

// Borrows one connection from the pool for the life of a table operation and gives it back on
// every return path, also when it turned out unusable, so the pool never waits for it.
class PooledConnection {
  public:
    PooledConnection();
    ~PooledConnection();
    PooledConnection(const PooledConnection&) = delete;
    PooledConnection& operator=(const PooledConnection&) = delete;

    // Valid and open: statements may run on it.
    bool isUsable() const;
    QSqlDatabase& database() { return m_connection; }

    // The connection's prepared statement for sql, kept for later borrowers. Its result set is
    // released when this borrow ends, so no read transaction outlives the operation.
    QSqlQuery& prepare(const QString& sql);

    // The connection's own SQLite statement for sql (a string literal: it keys the cache), reset
    // with its bindings cleared when this borrow ends. Null when SQLite refuses it.
    sqlite3_stmt* prepareRaw(const char* sql);

  private:
    SQLiteDb* m_pool = nullptr;
    QSqlDatabase m_connection;
    StatementCache* m_statements = nullptr;
    std::vector<QSqlQuery*> m_used;
    std::vector<sqlite3_stmt*> m_usedRaw;
    DbCallTimer m_timer;  // the borrow, for the metrics
};
