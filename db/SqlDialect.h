#pragma once

#include <QSqlDatabase>
#include <QString>

// The one place where SQLite and PostgreSQL part ways. Every statement is written once in SQL
// that both run, except where they differ; there the SQLite text stays as it is and its
// PostgreSQL twin is written beside it:
//
//     query.prepare(SqlDialect::twin(db, "select rowid as row_num,* from T",
//                                        "select id as row_num,* from T order by id"));
//
// Identifiers are written unquoted, so PostgreSQL folds them to lower case: result columns are
// found by name without regard to case (QSqlRecord::indexOf does so).
class SqlDialect {
  public:
    enum Kind { SQLite, PostgreSQL };

    static Kind of(const QSqlDatabase& db);
    static bool isPostgreSQL(const QSqlDatabase& db) { return of(db) == PostgreSQL; }
    static QString twin(const QSqlDatabase& db, const QString& sqlite, const QString& postgres) {
        return of(db) == PostgreSQL ? postgres : sqlite;
    }
    // Whether the connection's database has the table, as named in the statements.
    static bool hasTable(const QSqlDatabase& db, const QString& table);
};
