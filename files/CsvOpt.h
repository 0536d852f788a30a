#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "files/CsvLimits.h"
#include "files/CsvLine.h"

// A plain CSV reader and writer of rows of texts, in the dialect the operators' spreadsheet
// program opens: GBK without a byte-order mark, LF line ends, every cell followed by a comma,
// only cells with a comma quoted. Stateless; create one on the stack per use.
class CsvOpt : public QObject {
    Q_OBJECT
  public:
    explicit CsvOpt(QObject* parent = nullptr) : QObject(parent) {}

    // 0 on success, -1 on failure. Rows are read as texts; empty lines are skipped.
    int ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows);
    // The same, refusing a file beyond the limits ("[ReadCsv] file exceeds its limits").
    int ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows, const CsvLimits& limits);

    // Each non-empty line with its fields, in file order, without copying a field; `row` may
    // stop the reading by returning false (the result is then still 0).
    using RowVisitor = std::function<bool(QStringView line, const QVector<CsvLine::Span>& fields)>;
    static int forEachRow(const QString& fileName, const CsvLimits& limits, const RowVisitor& row);
    int WriteCsv(const QString& fileName, const QList<QList<QVariant>>& rows);

    // One row as a written line, line feed included, in the file's code page; for writers that
    // stream their rows.
    static QByteArray EncodeCsvLine(const QList<QVariant>& row);

    // One line without line breaks in its fields.
    static QStringList SplitCsvLine(const QString& line);
};
