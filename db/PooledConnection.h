#pragma once

#include <memory>
#include <vector>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include "core/DbCallTimer.h"

struct sqlite3_stmt;
class SQLiteDb;
class StatementCache;

// Borrows one connection from the pool for the life of a table operation and gives it back on
// every return path, also when it turned out unusable, so the pool never waits for it. Inside a
// PinnedTransaction of its thread it borrows that scope's connection instead.
class PooledConnection {
  public:
    PooledConnection();
    ~PooledConnection();
    PooledConnection(const PooledConnection&) = delete;
    PooledConnection& operator=(const PooledConnection&) = delete;

    // Valid and open: statements may run on it.
    bool isUsable() const;
    // The same, and an unusable one is logged: what a table operation checks first.
    bool checkUsable() const;
    QSqlDatabase& database() { return m_connection; }

    // The connection's prepared statement for sql, kept for later borrowers. Its result set is
    // released when this borrow ends, so no read transaction outlives the operation.
    QSqlQuery& prepare(const QString& sql);

    // Runs a prepared statement that writes nothing. When the server dropped the connection
    // under it (PostgreSQL), the connection is opened again and the statement prepared and run
    // there once more; a write is never run twice. The query that holds the rows, or null when
    // the statement failed.
    QSqlQuery* read(QSqlQuery& query);
    // The same for a statement prepared for this borrow only, with its values in order.
    QSqlQuery* read(const QString& statement, const QVariantList& values);

    // A transaction of the operation's own; inside a PinnedTransaction a savepoint, so that its
    // commit does not end the scope's transaction.
    bool transaction();
    bool commit();
    void rollback();

    // The connection's own SQLite statement for sql (a string literal: it keys the cache), reset
    // with its bindings cleared when this borrow ends. Null when SQLite refuses it.
    sqlite3_stmt* prepareRaw(const char* sql);

  private:
    QSqlQuery& prepareOwn(const QString& sql);

    bool inScope(const char* sql);

    SQLiteDb* m_pool = nullptr;
    bool m_pinned = false;  // the connection is a PinnedTransaction's, given back by it
    QSqlDatabase m_connection;
    StatementCache* m_statements = nullptr;
    std::vector<QSqlQuery*> m_used;
    std::vector<std::unique_ptr<QSqlQuery>> m_own;  // this borrow's own statements
    std::vector<sqlite3_stmt*> m_usedRaw;
    DbCallTimer m_timer;  // the borrow, for the metrics
};
