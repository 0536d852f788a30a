#pragma once

#include <QDebug>
#include <QSqlQuery>
#include <QString>

#include "db/PooledConnection.h"
#include "db/RecordColumns.h"

// Tables of one row per key (a serial number, say), written whole and read back by that key.
namespace KeyedRecord {
enum class Result { Found, Missing, Failed };

// Writes the record over the row with its key, or adds it; logs `failure` when it cannot.
template <typename T>
bool put(const RecordColumns<T>& columns, const T& record, const char* failure) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    static const QString statement = columns.upsert();
    QSqlQuery& query = connection.prepare(statement);
    columns.bindAll(query, record);
    if (query.exec()) return true;
    qDebug("%s", failure);
    return false;
}

// The row whose key column (`keyColumn`) holds `key`.
template <typename T>
Result get(const RecordColumns<T>& columns, const char* keyColumn, const QString& key, T& record,
           const char* failure) {
    PooledConnection connection;
    if (!connection.checkUsable()) return Result::Failed;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(columns.select(QStringLiteral("where %1=?").arg(QLatin1String(keyColumn))));
    query.bindValue(0, key);
    if (!query.exec()) {
        qDebug("%s", failure);
        return Result::Failed;
    }
    if (!query.next()) return Result::Missing;
    columns.read(query, record);
    return Result::Found;
}
}  // namespace KeyedRecord
