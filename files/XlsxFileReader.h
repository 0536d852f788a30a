#pragma once

#include <QList>
#include <QString>

#include "files/WorkbookSheet.h"

// Reads an Office Open XML workbook (.xlsx): every sheet in tab order with its name and the
// cells that hold a value. Shared and inline strings become texts, numbers doubles, booleans
// bools, error values their text.
namespace XlsxFileReader {

// False for a file that is not a readable workbook or exceeds the limits of WorkbookLimits or
// `limits`.
// problem, when given, receives what is wrong and where, in the operator's words.
bool read(const QString& fileName, QList<WorkbookSheet>& sheets,
          const WorkbookReadLimits& limits = WorkbookReadLimits(), QString* problem = nullptr);

}  // namespace XlsxFileReader
