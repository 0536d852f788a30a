#pragma once

#include <QList>
#include <QString>

#include "files/CsvLimits.h"
#include "model/struDeviceInfo.h"

// The device list as a CSV file: the work behind FileOperation::WriteCsvFile and
// FileOperation::ReadImportCsv.
namespace DeviceListCsv {

// Writes the title row and one row per device. Refuses an empty name ("[WriteCsvFile] parameter
// error") and a name whose suffix is not "csv" in any case ("[WriteCsvFile] file Suffix error").
bool write(const QString& fileName, const QList<struDeviceInfo>& devList);

// Reads an edited list back. Fails for a missing file, a suffix other than "csv", a file without
// a non-empty line ("[ReadImportCsv] file has no header row") or a wrong header.
bool read(const QString& fileName, QList<struDeviceInfo>& outDevList);
// The same, refusing a file beyond the limits; rows become records as they are read, with no
// table of cells in between.
bool read(const QString& fileName, QList<struDeviceInfo>& outDevList, const CsvLimits& limits);

}  // namespace DeviceListCsv
