#include "files/XlsFileReader.h"

#include <freexl.h>

#include <QFile>

namespace XlsFileReader {

namespace {

// Closes the workbook on every path out.
class FreeXlHandle {
  public:
    explicit FreeXlHandle(const QString& fileName) {
        if (freexl_open(QFile::encodeName(fileName).constData(), &m_handle) != FREEXL_OK) {
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

bool readCells(const void* handle, WorkbookSheet& sheet) {
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) return false;
    if (qint64(rows) * columns > WorkbookLimits::kMaxCells) return false;
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

bool read(const QString& fileName, QList<WorkbookSheet>& sheets) {
    sheets.clear();
    FreeXlHandle xls(fileName);
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
