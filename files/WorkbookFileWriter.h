#pragma once

#include <QList>
#include <QString>

#include "files/WorkbookSheet.h"

// Writes sheets as an Office Open XML workbook through libxlsxwriter.
namespace WorkbookFileWriter {

// Replaces fileName. On failure no half-written file is left behind.
bool write(const QString& fileName, const QList<WorkbookSheet>& sheets);

}  // namespace WorkbookFileWriter
