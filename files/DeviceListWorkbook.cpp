#include "files/DeviceListWorkbook.h"

#include <QDebug>
#include <QFile>
#include <cmath>

#include "files/DeviceListTable.h"
#include "files/ExportToExcel.h"
#include "files/FileSuffix.h"
#include "files/ImportExcel.h"

namespace DeviceListWorkbook {

namespace {

bool isWorkbookName(const QString& fileName) {
    const QString suffix = fileSuffix(fileName);
    return suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx");
}

}  // namespace

bool write(const QString& fileName, const QList<struDeviceInfo>& devList,
           const WorkbookBackendFactory& factory) {
    if (fileName.isEmpty()) {
        qDebug("[WriteExcelFile] parameter error");
        return false;
    }
    // The name is checked before the exporter runs: it removes an existing file of that name,
    // and a list.csv must not be lost to a request that is refused anyway.
    if (!isWorkbookName(fileName)) {
        qDebug("[WriteExcelFile] file Suffix error");
        return false;
    }
    ExportToExcel exporter(factory);
    if (!exporter.NewExcel(fileName)) {
        qDebug("[WriteExcelFile] createExcel fail");
        return false;
    }
    const bool written = exporter.Write(DeviceListTable::toTable(devList));
    if (!written) qDebug("[WriteExcelFile] write excel fail");
    // Saved and closed in every case, so the link never outlives the call.
    const bool saved = exporter.SaveAndClose();
    if (written && !saved) qDebug("[WriteExcelFile] save excel fail");
    return written && saved;
}

bool read(const QString& fileName, QList<struDeviceInfo>& outDevList,
          const WorkbookBackendFactory& factory) {
    if (!QFile::exists(fileName) || !isWorkbookName(fileName)) return false;
    ImportExcel importer(factory);
    if (!importer.Open(fileName)) return false;
    QList<QList<QVariant>> cells;
    const bool hasRows = importer.ReadAll(cells);
    importer.Close();
    if (!hasRows) return false;

    // An operator who types a flag as the number 1 sees "1"; the value rules apply to that.
    QList<QList<QVariant>> table;
    table.reserve(cells.size());
    for (const QList<QVariant>& row : cells) {
        QList<QVariant> texts;
        texts.reserve(row.size());
        for (const QVariant& cell : row) texts << cellText(cell);
        table << texts;
    }
    // The used range is rectangular, so no row is shorter than the header.
    return DeviceListTable::fromTable(table, outDevList, false);
}

QString cellText(const QVariant& cell) {
    switch (static_cast<QMetaType::Type>(cell.type())) {
        case QMetaType::Bool:
            return cell.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong: {
            const double value = cell.toDouble();
            // Whole numbers without a fraction, others with the 15 significant digits a
            // spreadsheet keeps.
            if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 1e15)
                return QString::number(static_cast<qint64>(value));
            return QString::number(value, 'g', 15);
        }
        default:
            return cell.toString();
    }
}

}  // namespace DeviceListWorkbook
