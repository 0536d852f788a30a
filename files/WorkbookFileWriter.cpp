#include "files/WorkbookFileWriter.h"

#include <xlsxwriter.h>

#include <QFile>

#include "files/OoxmlText.h"

namespace WorkbookFileWriter {

namespace {

bool writeCell(lxw_worksheet* sheet, int row, int column, const QVariant& value) {
    const lxw_row_t r = lxw_row_t(row);
    const lxw_col_t c = lxw_col_t(column);
    switch (static_cast<QMetaType::Type>(value.type())) {
        case QMetaType::Bool:
            return worksheet_write_boolean(sheet, r, c, value.toBool(), nullptr) == LXW_NO_ERROR;
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return worksheet_write_number(sheet, r, c, value.toDouble(), nullptr) == LXW_NO_ERROR;
        default:
            return worksheet_write_string(
                       sheet, r, c,
                       OoxmlText::escapePatterns(value.toString()).toUtf8().constData(),
                       nullptr) == LXW_NO_ERROR;
    }
}

}  // namespace

bool write(const QString& fileName, const QList<WorkbookSheet>& sheets) {
    if (sheets.isEmpty()) return false;
    lxw_workbook* workbook = workbook_new(QFile::encodeName(fileName).constData());
    if (!workbook) return false;
    bool ok = true;
    for (const WorkbookSheet& sheet : sheets) {
        lxw_worksheet* worksheet =
            workbook_add_worksheet(workbook, sheet.name.toUtf8().constData());
        if (!worksheet) {
            ok = false;
            break;
        }
        for (const auto& cell : sheet.cells) {
            if (!writeCell(worksheet, cell.first.first, cell.first.second, cell.second)) {
                ok = false;
                break;
            }
        }
        if (!ok) break;
    }
    // Closing writes the file and frees the workbook, also after a failure.
    if (workbook_close(workbook) != LXW_NO_ERROR) ok = false;
    if (!ok) QFile::remove(fileName);
    return ok;
}

}  // namespace WorkbookFileWriter
