#include "files/DeviceExchangeFile.h"

#include <QDateTime>
#include <QFile>

#include "core/LocalTime.h"
#include "files/CsvOpt.h"
#include "files/DeviceListTable.h"
#include "files/DeviceListWorkbook.h"
#include "files/ExportToExcel.h"
#include "files/FileSuffix.h"
#include "files/FileWorkbookBackend.h"

namespace {
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
}  // namespace

const QStringList& DeviceExchangeFile::titles() {
    static const QStringList list = DeviceListTable::titles() + QStringList{"升级完成时间"};
    return list;
}

QList<QVariant> DeviceExchangeFile::row(const struDeviceInfo& device) {
    QList<QVariant> cells = DeviceListTable::toTable({device}).at(1);
    cells << timeText(device.UpgradeCompletionTime);
    return cells;
}

bool DeviceExchangeFile::writeWorkbook(const QString& fileName,
                                       const QList<QList<QVariant>>& table) {
    ExportToExcel exporter;
    if (!exporter.NewExcel(fileName)) return false;
    const bool written = exporter.Write(table);
    return exporter.SaveAndClose() && written;
}

bool DeviceExchangeFile::readTable(const QString& fileName, QList<QList<QVariant>>& table,
                                   const ImportLimits& limits, QString& problem) {
    const QString suffix = fileSuffix(fileName).toLower();
    if (suffix == QLatin1String("csv")) {
        if (CsvOpt().ReadCsv(fileName, table, limits.csv) == 0) return true;
        problem = QStringLiteral(
            "CSV 文件无法读取或超过导入上限（ImportMaxBytes、ImportMaxRows、ImportMaxCells）");
        return false;
    }
    FileWorkbookBackend workbook(limits.workbook);
    if ((suffix != QLatin1String("xlsx") && suffix != QLatin1String("xls")) ||
        !workbook.open(fileName)) {
        problem = workbook.problem().isEmpty()
                      ? QStringLiteral("文件既不是 CSV 也不是 Excel 工作簿")
                      : workbook.problem();
        return false;
    }
    if (!workbook.selectSheet(1)) {
        problem = QStringLiteral("工作簿里没有工作表");
        return false;
    }
    const QList<QList<QVariant>> cells = workbook.usedRange();
    const bool hasRows = !cells.isEmpty();
    if (!hasRows)
        problem = QStringLiteral("第一张工作表“%1”是空的，没有标题行").arg(workbook.sheetName());
    table.clear();
    for (const QList<QVariant>& cellRow : cells) {
        QList<QVariant> texts;
        for (const QVariant& cell : cellRow) texts << DeviceListWorkbook::cellText(cell);
        table << texts;
    }
    return hasRows;
}

QString DeviceExchangeFile::timeText(qint32 seconds) {
    return localTimeText(seconds);
}

bool DeviceExchangeFile::parseTime(const QString& text, qint32& seconds) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        seconds = 0;
        return true;
    }
    for (const char* format : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd H:mm", "yyyy/M/d H:mm:ss",
                               "yyyy/M/d H:mm", "yyyy-MM-dd HH:mm"}) {
        const QDateTime time = QDateTime::fromString(trimmed, QLatin1String(format));
        if (time.isValid()) {
            seconds = static_cast<qint32>(time.toSecsSinceEpoch());
            return true;
        }
    }
    return false;
}
