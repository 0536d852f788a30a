#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

// A plain CSV reader and writer of rows of texts, in the dialect the operators' spreadsheet
// program opens: GBK without a byte-order mark, LF line ends, every cell followed by a comma,
// only cells with a comma quoted. Stateless; create one on the stack per use.
class CsvOpt : public QObject {
    Q_OBJECT
  public:
    explicit CsvOpt(QObject* parent = nullptr) : QObject(parent) {}

    // 0 on success, -1 on failure. Rows are read as texts; empty lines are skipped.
    int ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows);
    int WriteCsv(const QString& fileName, const QList<QList<QVariant>>& rows);

    // One row as a written line, line feed included, in the file's code page; for writers that
    // stream their rows.
    static QByteArray EncodeCsvLine(const QList<QVariant>& row);

    // One line without line breaks in its fields.
    static QStringList SplitCsvLine(const QString& line);
};
