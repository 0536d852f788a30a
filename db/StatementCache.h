#pragma once

#include <map>
#include <memory>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

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
    // Drops every statement; needed before the connection is closed or reopened.
    void clear() { m_statements.clear(); }

  private:
    struct Entry {
        QSqlQuery query;
        bool prepared = false;
    };
    QSqlDatabase m_connection;
    std::map<QString, std::unique_ptr<Entry>> m_statements;
};
