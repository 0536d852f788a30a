#pragma once

#include <QList>
#include <QString>

#include "files/WorkbookSheet.h"

// Reads a binary workbook (.xls, BIFF) through FreeXL: every sheet in tab order with its name
// and the cells that hold a value. Numbers become doubles; texts, dates and times texts.
namespace XlsFileReader {

// False for a file that is not a readable workbook or exceeds the limits of WorkbookLimits or
// `limits`.
bool read(const QString& fileName, QList<WorkbookSheet>& sheets,
          const WorkbookReadLimits& limits = WorkbookReadLimits());

}  // namespace XlsFileReader
