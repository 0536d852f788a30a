#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include "files/WorkbookBackend.h"
#include "model/struDeviceInfo.h"

// The device list as a workbook: the work behind FileOperation::WriteExcelFile and
// FileOperation::ReadImportExcel, with the columns and value rules of the CSV file.
namespace DeviceListWorkbook {

// Writes the title row and one row per device to the first sheet, named "sheet1", of a new
// workbook saved as fileName. The suffix must be "xls" or "xlsx" exactly.
bool write(const QString& fileName, const QList<struDeviceInfo>& devList,
           const WorkbookBackendFactory& factory = defaultWorkbookBackendFactory());

// Reads the used cells of the first sheet of fileName ("xls" or "xlsx" exactly) back into
// devices.
bool read(const QString& fileName, QList<struDeviceInfo>& outDevList,
          const WorkbookBackendFactory& factory = defaultWorkbookBackendFactory());

// A cell as the spreadsheet shows it: 1.0 as "1", true as "TRUE", text as it is.
QString cellText(const QVariant& cell);

}  // namespace DeviceListWorkbook
