#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "files/ImportLimits.h"
#include "model/struDeviceInfo.h"

// The device list as a file the operator edits in a spreadsheet program: the console's export
// and import, CSV in the dialect of CsvOpt or a workbook, told apart by the file name's suffix.
class DeviceExchangeFile {
  public:
    // The 16 columns of the device list and the completion time, which the import compares to
    // tell an export that has gone stale.
    static const QStringList& titles();
    static QList<QVariant> row(const struDeviceInfo& device);

    // Writes the table as a workbook (suffix "xlsx").
    static bool writeWorkbook(const QString& fileName, const QList<QList<QVariant>>& table);
    // The cells of a CSV file or of a workbook's first sheet, as texts; false, with what is
    // wrong and where, for a file that cannot be read or is past the limits.
    static bool readTable(const QString& fileName, QList<QList<QVariant>>& table,
                          const ImportLimits& limits, QString& problem);

    // The completion time column: local time, empty for none. Read back to the minute in the
    // forms a spreadsheet program saves dates in; false for a text that is no time.
    static QString timeText(qint32 seconds);
    static bool parseTime(const QString& text, qint32& seconds);
};
