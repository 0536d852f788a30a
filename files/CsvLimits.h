#pragma once

#include <QtGlobal>

// Caps on a CSV file a reader takes in; a file beyond any of them is refused whole. A negative
// value leaves that measure unbounded.
struct CsvLimits {
    qint64 maxBytes = -1;     // the file's size
    int maxRows = -1;         // non-empty lines, the title row included
    int maxCellsPerRow = -1;  // fields of one line
};
