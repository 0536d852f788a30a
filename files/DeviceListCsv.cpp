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
    return read(fileName, outDevList, CsvLimits());
}

bool read(const QString& fileName, QList<struDeviceInfo>& outDevList, const CsvLimits& limits) {
    if (!QFile::exists(fileName) || !isCsvName(fileName)) return false;
    bool headerRead = false;
    bool headerOk = false;
    QList<struDeviceInfo> devices;
    const int result = CsvOpt::forEachRow(fileName, limits, [&](const QStringList& fields) {
        const auto cell = [&](int column) { return fields.at(column); };
        if (!headerRead) {
            headerRead = true;
            headerOk = DeviceListTable::headerMatches(fields.size(), cell);
            return headerOk;
        }
        struDeviceInfo device;
        if (DeviceListTable::deviceFromRow(fields.size(), cell, true, device)) devices << device;
        return true;
    });
    if (result != 0) return false;
    if (!headerRead) {
        qDebug("[ReadImportCsv] file has no header row");
        return false;
    }
    if (!headerOk) return false;
    outDevList = devices;
    return true;
}

}  // namespace DeviceListCsv
