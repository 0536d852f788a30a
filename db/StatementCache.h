#pragma once

#include <map>
#include <memory>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

struct sqlite3_stmt;

// The prepared statements of one pooled connection, kept across borrows so that a table
// operation does not have SQLite parse and plan its statement again on every call. Only the
// connection's current borrower touches it, so it needs no lock of its own.
class StatementCache {
  public:
    explicit StatementCache(const QSqlDatabase& connection) : m_connection(connection) {}
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    // The statement prepared on the connection, reset and ready for new values. A statement
    // SQLite refused (say, its table is missing) is prepared again on the next call and fails
    // on exec.
    QSqlQuery& prepare(const QString& sql);
    // The same statement straight on the connection's SQLite handle, for the per-report
    // lookups: Qt's driver rebuilds its description of every result column on each run, which
    // costs more than the indexed lookup itself. Null when SQLite refuses it.
    sqlite3_stmt* prepareRaw(const char* sql);

    // Drops every statement; needed before the connection is closed or reopened (SQLite will
    // not close a connection while any statement of its own is still open).
    void clear();
    // Forgets every statement of a PostgreSQL connection that is gone or closed. Freeing one
    // sends DEALLOCATE on the connection, which then fails with a warning per statement: they
    // are kept aside for the life of the process instead, a few per outage.
    void abandon();
    // Keeps a query of a connection that is gone from being freed, as abandon() does.
    static void keepAside(const QSqlQuery& query);
    ~StatementCache() { clear(); }

  private:
    struct Entry {
        QSqlQuery query;
        bool prepared = false;
    };
    QSqlDatabase m_connection;
    std::map<QString, std::unique_ptr<Entry>> m_statements;
    std::map<const char*, sqlite3_stmt*> m_raw;
};
