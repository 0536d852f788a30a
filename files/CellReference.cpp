#include "files/CellReference.h"

#include "files/WorkbookSheet.h"

namespace CellReference {

bool parse(const QString& text, int& row, int& column) {
    int i = 0;
    qint64 col = 0;
    // Absolute references ("$A$1") name the same cell.
    if (i < text.size() && text.at(i) == QLatin1Char('$')) ++i;
    for (; i < text.size(); ++i) {
        const QChar ch = text.at(i).toUpper();
        if (ch < QLatin1Char('A') || ch > QLatin1Char('Z')) break;
        col = col * 26 + (ch.unicode() - 'A' + 1);
        if (col > WorkbookLimits::kMaxColumns) return false;
    }
    if (col == 0) return false;
    if (i < text.size() && text.at(i) == QLatin1Char('$')) ++i;
    qint64 r = 0;
    for (; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9')) return false;
        r = r * 10 + (ch.unicode() - '0');
        if (r > WorkbookLimits::kMaxRows) return false;
    }
    if (r == 0) return false;
    row = int(r - 1);
    column = int(col - 1);
    return true;
}

bool parseRange(const QString& text, int& firstRow, int& firstColumn, int& lastRow,
                int& lastColumn) {
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString first = colon < 0 ? text : text.left(colon);
    const QString last = colon < 0 ? text : text.mid(colon + 1);
    if (!parse(first, firstRow, firstColumn) || !parse(last, lastRow, lastColumn)) return false;
    return firstRow <= lastRow && firstColumn <= lastColumn;
}

QString columnLetters(int column) {
    QString letters;
    // Bijective base 26: there is no zero digit, Z is followed by AA.
    for (int n = column; n > 0; n = (n - 1) / 26)
        letters.prepend(QLatin1Char(char('A' + (n - 1) % 26)));
    return letters;
}

QString name(int row, int column) {
    return columnLetters(column + 1) + QString::number(row + 1);
}

}  // namespace CellReference
