#include "files/DeviceListCsv.h"

#include <QDebug>
#include <QFile>

#include "files/CsvOpt.h"
#include "files/DeviceListTable.h"
#include "files/FileSuffix.h"

namespace DeviceListCsv {

namespace {
bool isCsvName(const QString& fileName) {
    return fileSuffix(fileName).toLower() == QLatin1String("csv");
}
}  // namespace

bool write(const QString& fileName, const QList<struDeviceInfo>& devList) {
    if (fileName.isEmpty()) {
        qDebug("[WriteCsvFile] parameter error");
        return false;
    }
    if (!isCsvName(fileName)) {
        qDebug("[WriteCsvFile] file Suffix error");
        return false;
    }
    CsvOpt csv;
    return csv.WriteCsv(fileName, DeviceListTable::toTable(devList)) == 0;
}

bool read(const QString& fileName, QList<struDeviceInfo>& outDevList) {
    if (!QFile::exists(fileName) || !isCsvName(fileName)) return false;
    CsvOpt csv;
    QList<QList<QVariant>> table;
    if (csv.ReadCsv(fileName, table) != 0) return false;
    if (table.isEmpty()) {
        qDebug("[ReadImportCsv] file has no header row");
        return false;
    }
    return DeviceListTable::fromTable(table, outDevList, true);
}

}  // namespace DeviceListCsv
