#pragma once

#include <QString>
#include <QStringView>
#include <QVector>

// The fields of one CSV line as stretches of the line, so that a reader copies only the fields
// it keeps. Fields are cut at commas outside double quotes; a field holding a quote has each
// doubled quote made single and, when it then starts and ends with a quote, those two removed.
namespace CsvLine {

struct Span {
    int start;
    int length;
};

// An empty line has no fields; otherwise one more than its unquoted commas.
void split(QStringView line, QVector<Span>& fields);

QString text(QStringView line, Span field);

}  // namespace CsvLine
