#pragma once

#include <QList>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "model/struDeviceInfo.h"

// The 16 columns of the exchanged device list, shared by the CSV file and the workbook:
// titles, cell values ("1"/"0" for flags) and the header check of an imported table.
namespace DeviceListTable {

constexpr int kColumnCount = 16;

// The Chinese column titles, in column order.
const QStringList& titles();

// Title row, then one row of 16 texts per device in list order.
QList<QList<QVariant>> toTable(const QList<struDeviceInfo>& devices);

// Checks a header row against the titles; extra titles after the 16th are ignored.
bool checkHeader(const QList<QVariant>& header);
// What is wrong with a header row, naming the column, in the operator's words; empty when it
// passes checkHeader().
QString headerProblem(const QList<QVariant>& header);
// One data row by the value rules below; missing cells read as empty.
struDeviceInfo deviceFromRow(const QList<QVariant>& row);

// Checks row 0 against the titles ("Excel header count error" / "Excel header name error";
// extra titles after the 16th are ignored) and fills out with the devices of the further rows.
// With requireRowLength, rows shorter than 16 cells are skipped; without it missing cells read as
// empty. Flags are true exactly for the text "1"; rows without a serial number are dropped.
// The table must not be empty: callers report a missing header row themselves.
bool fromTable(const QList<QList<QVariant>>& table, QList<struDeviceInfo>& out,
               bool requireRowLength);

// The same rules one row at a time, for readers that hold no table: a row is its cell count
// and the text of a cell by column.
using CellText = std::function<QString(int column)>;
bool headerMatches(int cellCount, const CellText& cell);
// False when the row gives no device (too short with requireRowLength, or no serial number).
bool deviceFromRow(int cellCount, const CellText& cell, bool requireRowLength,
                   struDeviceInfo& device);

// Gives the texts of `read` that a GBK file turned into '?' (see CsvOpt::lostInGbk) their stored
// value back; the number of texts so kept.
int keepTextsLostInGbk(const struDeviceInfo& stored, struDeviceInfo& read);

}  // namespace DeviceListTable
