#pragma once

#include "core/struLocalParam.h"
#include "files/CsvLimits.h"
#include "files/WorkbookSheet.h"

// What an imported device list may hold, from ImportMaxBytes, ImportMaxRows (data rows) and
// ImportMaxCells (per row), in either file form: every row costs a paced save, and a workbook
// must not inflate into more than such a list needs.
struct ImportLimits {
    CsvLimits csv;
    WorkbookReadLimits workbook;

    static ImportLimits of(const struLocalParam& param);
};
