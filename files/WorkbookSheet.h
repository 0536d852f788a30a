#pragma once

#include <QString>
#include <QVariant>
#include <map>
#include <utility>

// One sheet of a workbook held in memory by the file-based engine: its name and the cells that
// hold a value (text, number as double, or boolean), keyed by 0-based (row, column).
struct WorkbookSheet {
    QString name;
    std::map<std::pair<int, int>, QVariant> cells;
};

// The size limits of a sheet in the workbook format, and the most cells the engine keeps or
// hands out at once, so a hostile file cannot make it allocate without bound.
namespace WorkbookLimits {
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
constexpr qint64 kMaxCells = 4 * 1000 * 1000;
constexpr int kMaxTextLength = 32767;
// A whole workbook, all its sheets together: cells read, and its shared strings.
constexpr qint64 kMaxSharedStrings = 1000 * 1000;
constexpr qint64 kMaxSharedTextLength = 64 * 1000 * 1000;  // characters
}  // namespace WorkbookLimits

// What reading one workbook may bring into memory, whatever the number of its sheets, and how
// much of a compressed one it inflates. A workbook past any of them is refused as soon as it is.
struct WorkbookReadLimits {
    qint64 cells = WorkbookLimits::kMaxCells;  // also of the box the used cells span
    qint64 sharedStrings = WorkbookLimits::kMaxSharedStrings;
    qint64 sharedTextLength = WorkbookLimits::kMaxSharedTextLength;
    int rows = WorkbookLimits::kMaxRows;  // a cell past them refuses the workbook
    int columns = WorkbookLimits::kMaxColumns;
    qint64 partBytes = 256ll * 1024 * 1024;  // uncompressed, of each part of a zipped workbook
};
