#pragma once

#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include "db/PooledConnection.h"

// One cached statement on a borrowed connection, for the small tables of accounts, sessions,
// tokens and the audit trail: bind, run, read rows by column name.
class SqlStatement {
  public:
    explicit SqlStatement(const QString& sql);
    // A statement whose PostgreSQL text differs (SqlDialect).
    SqlStatement(const QString& sqlite, const QString& postgres);
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    SqlStatement& bind(const QString& placeholder, const QVariant& value);
    // False when no connection could be had or the statement failed.
    bool exec();
    bool next();
    QVariant value(const char* column) const;
    int rowsAffected() const { return m_query ? m_query->numRowsAffected() : 0; }
    qint64 lastInsertId() const { return m_query ? m_query->lastInsertId().toLongLong() : 0; }

  private:
    PooledConnection m_connection;
    QSqlQuery* m_query = nullptr;
    QSqlRecord m_record;
};
