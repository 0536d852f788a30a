#include "db/RecordColumns.h"

#include <sqlite3.h>

#include <QByteArray>

namespace {
QString textCell(sqlite3_stmt* stmt, int column) {
    const void* text = sqlite3_column_text16(stmt, column);
    return QString(static_cast<const QChar*>(text),
                   sqlite3_column_bytes16(stmt, column) / static_cast<int>(sizeof(QChar)));
}

// The cell as Qt's SQLite driver gives it.
QVariant cell(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, column)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, column));
        case SQLITE_NULL:
            return QVariant(QVariant::String);
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                              sqlite3_column_bytes(stmt, column));
        default:
            return textCell(stmt, column);
    }
}
}  // namespace

qint64 SqliteCell::integer(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_INTEGER)
        return sqlite3_column_int64(stmt, column);
    return cell(stmt, column).toLongLong();
}

QString SqliteCell::text(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) != SQLITE_TEXT) return cell(stmt, column).toString();
    return textCell(stmt, column);
}

bool SqliteCell::flag(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_INTEGER)
        return sqlite3_column_int64(stmt, column) != 0;
    return cell(stmt, column).toBool();
}
