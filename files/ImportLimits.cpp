#include "files/ImportLimits.h"

#include <climits>

#include "files/DeviceExchangeFile.h"

namespace {
// A cell of a sheet part, with its reference, style and value, takes some tens of bytes.
constexpr qint64 kPartBytesPerCell = 128;
}  // namespace

ImportLimits ImportLimits::of(const struLocalParam& param) {
    ImportLimits limits;
    const int rows = int(qMin<quint32>(param.ImportMaxRows, WorkbookLimits::kMaxRows - 1)) + 1;
    const int cells = int(qMin<quint32>(param.ImportMaxCells, INT_MAX));
    limits.csv.maxBytes = param.ImportMaxBytes;
    limits.csv.maxRows = int(qMin<quint32>(param.ImportMaxRows, INT_MAX - 1)) + 1;
    limits.csv.maxCellsPerRow = cells;

    // A row of a device list fills at most its own columns; other cells may sit beside them.
    WorkbookReadLimits& book = limits.workbook;
    book.rows = rows;
    book.columns = qMin(cells, WorkbookLimits::kMaxColumns);
    book.cells =
        qMin<qint64>(qint64(rows) * qMin(book.columns, int(DeviceExchangeFile::titles().size())),
                     WorkbookLimits::kMaxCells);
    book.sharedStrings = book.cells;
    book.sharedTextLength =
        qMin<qint64>(param.ImportMaxBytes, WorkbookLimits::kMaxSharedTextLength);
    book.partBytes = book.cells * kPartBytesPerCell;
    return limits;
}
