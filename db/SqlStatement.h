#pragma once

#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include "db/PooledConnection.h"
#include "db/RecordColumns.h"

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
    // The record's columns as columns.insert(use) names them.
    template <typename T>
    SqlStatement& bindRow(const RecordColumns<T>& columns, const T& record, unsigned use = 0) {
        if (m_query) columns.bindInsert(*m_query, record, use);
        return *this;
    }
    // The current row of a statement made by columns.select().
    template <typename T>
    void readRow(const RecordColumns<T>& columns, T& record) const {
        if (m_query) columns.read(*m_query, record);
    }
    int rowsAffected() const { return m_query ? m_query->numRowsAffected() : 0; }
    qint64 lastInsertId() const { return m_query ? m_query->lastInsertId().toLongLong() : 0; }

  private:
    PooledConnection m_connection;
    QSqlQuery* m_query = nullptr;
    QSqlRecord m_record;
};
