#pragma once

#include <vector>

#include <QString>

#include "db/ColumnKind.h"
#include "model/struDeviceInfo.h"

class QSqlQuery;
class QSqlRecord;
class QVariant;
struct sqlite3_stmt;

// The stored columns of Tab_DeviceInfo, described once in DeviceColumns.cpp: the column lists of
// the record statements, their bindings and both row readers are made from that description, so
// a new column is one more entry there.
class DeviceColumns {
  public:
    // The statements that write a whole record; "WithTime" ones also write
    // UpgradeCompletionTime, Insert (an operator's new row) also IdentityPinned. Report writes only
    // the columns a terminal's report carries, ReportPin those and the pinned identity (devId,
    // IdentityPinned). Updates find their row by devSN.
    enum class Write { Insert, InsertWithTime, Update, UpdateWithTime, Report, ReportPin };

    static const QString& statement(Write write);

    // The stored columns one by one, for the console's lists, filters, edits and documents.
    static int count();
    static const char* name(int column);
    static ColumnKind kind(int column);
    static int indexOf(const QString& name);  // -1 for no stored column
    // The record's field of that column: an int, a QString or a bool.
    static QVariant value(const struDeviceInfo& device, int column);
    // Binds every parameter of statement(write) from the record.
    static void bind(QSqlQuery& query, Write write, const struDeviceInfo& device);

    // The column that holds a flag of the record; nullptr for a field that is not stored.
    static const char* nameOf(bool struDeviceInfo::*flag);

    // Every stored column, in table order, of the row whose devSN is bound to the one "?".
    static const char* selectBySN();
    // Where read() finds each column in a row of selectBySN(): in order.
    static const std::vector<int>& selectBySNPositions();
    // Reads a row of selectBySN() through the SQLite statement itself; each value converts as
    // read() converts it.
    static void readRaw(sqlite3_stmt* stmt, struDeviceInfo& device);

    // Where each stored column sits in a result, found once per result by name regardless of
    // case (-1 when absent, which reads as an empty value).
    static std::vector<int> positions(const QSqlRecord& record);
    // The stored fields of the query's current row; the other fields are left alone.
    static void read(const QSqlQuery& query, const std::vector<int>& positions,
                     struDeviceInfo& device);
};
