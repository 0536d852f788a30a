#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "files/CsvLimits.h"

// The one CSV writer and reader of the service (RFC 4180). Device list files keep the dialect
// the operators' spreadsheet program opens: GBK without a byte-order mark unless UTF-8 is asked
// for, LF line ends, every cell followed by a comma. Stateless; create one on the stack per use.
class CsvOpt : public QObject {
    Q_OBJECT
  public:
    enum class Charset { Gbk, Utf8 };

    explicit CsvOpt(QObject* parent = nullptr) : QObject(parent) {}

    // 0 on success, -1 on failure. Rows are read as texts; empty lines are skipped.
    int ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows);
    // The same, refusing a file beyond the limits ("[ReadCsv] file exceeds its limits").
    int ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows, const CsvLimits& limits);

    // Each record with its fields, in file order; `row` may stop the reading by returning false
    // (the result is then still 0). The encoding is taken from a byte-order mark, GBK without.
    using RowVisitor = std::function<bool(const QStringList& fields)>;
    static int forEachRow(const QString& fileName, const CsvLimits& limits, const RowVisitor& row);
    int WriteCsv(const QString& fileName, const QList<QList<QVariant>>& rows);

    // What a file of the charset begins with: the byte-order mark for UTF-8, nothing for GBK.
    static QByteArray fileStart(Charset charset);
    // One row as a written line, line feed included, in the charset.
    static QByteArray EncodeCsvLine(const QList<QVariant>& row, Charset charset = Charset::Gbk);
    // One cell as written: neutralised when a spreadsheet would take it for a formula, then
    // quoted when it holds a quote, a comma or a line break.
    static QString cell(const QString& text);

    // The records of a decoded text, each cell given back as it was before cell().
    static QList<QStringList> parse(const QString& text);

    // True when `read` is what the GBK file made of `stored`: characters GBK cannot carry came
    // back as '?', and writing `read` would lose them.
    static bool lostInGbk(const QString& stored, const QString& read);
};
