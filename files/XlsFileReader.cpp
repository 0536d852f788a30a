#include "files/XlsFileReader.h"

#include <freexl.h>

#include <QFile>

namespace XlsFileReader {

namespace {

// Closes the workbook on every path out.
class FreeXlHandle {
  public:
    // With metadataOnly, no cell is loaded: counts and dimensions only.
    FreeXlHandle(const QString& fileName, bool metadataOnly) {
        const QByteArray name = QFile::encodeName(fileName);
        const int opened = metadataOnly ? freexl_open_info(name.constData(), &m_handle)
                                        : freexl_open(name.constData(), &m_handle);
        if (opened != FREEXL_OK) {
            if (m_handle) freexl_close(m_handle);
            m_handle = nullptr;
        }
    }
    ~FreeXlHandle() {
        if (m_handle) freexl_close(m_handle);
    }
    FreeXlHandle(const FreeXlHandle&) = delete;
    FreeXlHandle& operator=(const FreeXlHandle&) = delete;

    const void* get() const { return m_handle; }

  private:
    const void* m_handle = nullptr;
};

// The cells of every sheet together, as their dimensions give them; -1 when unreadable or a
// sheet spans more rows or columns than the limits take.
qint64 workbookCells(const void* handle, unsigned int sheetCount,
                     const WorkbookReadLimits& limits) {
    qint64 cells = 0;
    for (unsigned int i = 0; i < sheetCount; ++i) {
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(handle, static_cast<unsigned short>(i)) != FREEXL_OK ||
            freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK ||
            qint64(rows) > limits.rows || qint64(columns) > limits.columns)
            return -1;
        cells += qint64(rows) * columns;
    }
    return cells;
}

// Sheet count, cells and shared strings, checked before any cell is loaded.
bool withinLimits(const QString& fileName, const WorkbookReadLimits& limits) {
    FreeXlHandle info(fileName, true);
    unsigned int sheetCount = 0;
    unsigned int strings = 0;
    if (!info.get() ||
        freexl_get_info(info.get(), FREEXL_BIFF_SHEET_COUNT, &sheetCount) != FREEXL_OK ||
        freexl_get_info(info.get(), FREEXL_BIFF_STRING_COUNT, &strings) != FREEXL_OK)
        return false;
    const qint64 cells = workbookCells(info.get(), sheetCount, limits);
    return strings <= limits.sharedStrings && cells >= 0 &&
           cells <= qMin(limits.cells, WorkbookLimits::kMaxCells);
}

bool readCells(const void* handle, WorkbookSheet& sheet) {
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) return false;
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(handle, r, c, &cell) != FREEXL_OK) return false;
            QVariant value;
            switch (cell.type) {
                case FREEXL_CELL_INT:
                    value = double(cell.value.int_value);
                    break;
                case FREEXL_CELL_DOUBLE:
                    value = cell.value.double_value;
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    value = QString::fromUtf8(cell.value.text_value);
                    break;
                default:
                    continue;  // empty cell
            }
            sheet.cells[{int(r), int(c)}] = value;
        }
    }
    return true;
}

}  // namespace

bool read(const QString& fileName, QList<WorkbookSheet>& sheets, const WorkbookReadLimits& limits) {
    sheets.clear();
    if (!withinLimits(fileName, limits)) return false;
    FreeXlHandle xls(fileName, false);
    if (!xls.get()) return false;
    unsigned int count = 0;
    if (freexl_get_info(xls.get(), FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) return false;

    QList<WorkbookSheet> result;
    for (unsigned int i = 0; i < count; ++i) {
        WorkbookSheet sheet;
        const char* name = nullptr;
        if (freexl_get_worksheet_name(xls.get(), static_cast<unsigned short>(i), &name) !=
                FREEXL_OK ||
            freexl_select_active_worksheet(xls.get(), static_cast<unsigned short>(i)) !=
                FREEXL_OK ||
            !readCells(xls.get(), sheet))
            return false;
        sheet.name = QString::fromUtf8(name);
        result << sheet;
    }
    sheets = result;
    return true;
}

}  // namespace XlsFileReader
