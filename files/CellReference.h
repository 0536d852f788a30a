#pragma once

#include <QString>

// Cell references of the workbook format ("B7", "XFD1048576").
namespace CellReference {

// Parses column letters and a row number into 0-based row and column; false for anything
// malformed or outside the sheet limits.
bool parse(const QString& text, int& row, int& column);

// Parses "A1:P4" into 0-based corners; a single cell "B2" is a range of one cell.
bool parseRange(const QString& text, int& firstRow, int& firstColumn, int& lastRow,
                int& lastColumn);

// The letters of a 1-based column ("A", "Z", "AA").
QString columnLetters(int column);
// The reference of a 0-based cell, as a spreadsheet program shows it ("C12").
QString name(int row, int column);

}  // namespace CellReference
