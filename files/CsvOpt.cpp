#include "files/CsvOpt.h"

#include <QDebug>
#include <QFile>
#include <QTextCodec>

#include "files/FileSuffix.h"

namespace {

// The code page of the operators' spreadsheet hosts, whatever the process locale.
QTextCodec* ansiCodec() {
    return QTextCodec::codecForName("GBK");
}

bool suffixMentionsCsv(const QString& fileName) {
    return fileSuffix(fileName).contains(QLatin1String("csv"), Qt::CaseInsensitive);
}

// Picks the codec from a byte-order mark and tells how many bytes the mark takes.
QTextCodec* codecForBom(const QByteArray& data, int& bomLength) {
    static const struct {
        const char* bom;
        int length;
        const char* codec;
    } marks[] = {
        // UTF-32 LE first: its mark begins with the UTF-16 LE mark.
        {"\xFF\xFE\x00\x00", 4, "UTF-32LE"}, {"\x00\x00\xFE\xFF", 4, "UTF-32BE"},
        {"\xEF\xBB\xBF", 3, "UTF-8"},        {"\xFF\xFE", 2, "UTF-16LE"},
        {"\xFE\xFF", 2, "UTF-16BE"},
    };
    for (const auto& mark : marks) {
        if (data.startsWith(QByteArray::fromRawData(mark.bom, mark.length))) {
            bomLength = mark.length;
            return QTextCodec::codecForName(mark.codec);
        }
    }
    bomLength = 0;
    return ansiCodec();
}

}  // namespace

QStringList CsvOpt::SplitCsvLine(const QString& line) {
    QVector<CsvLine::Span> spans;
    CsvLine::split(line, spans);
    QStringList fields;
    fields.reserve(spans.size());
    for (const CsvLine::Span& span : spans) fields << CsvLine::text(line, span);
    return fields;
}

int CsvOpt::ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows) {
    return ReadCsv(fileName, rows, CsvLimits());
}

int CsvOpt::ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows,
                    const CsvLimits& limits) {
    rows.clear();
    const int result =
        forEachRow(fileName, limits, [&](QStringView line, const QVector<CsvLine::Span>& fields) {
            QList<QVariant> row;
            row.reserve(fields.size());
            for (const CsvLine::Span& field : fields) row << QVariant(CsvLine::text(line, field));
            rows << row;
            return true;
        });
    if (result != 0) rows.clear();
    return result;
}

int CsvOpt::forEachRow(const QString& fileName, const CsvLimits& limits, const RowVisitor& row) {
    if (!QFile::exists(fileName) || !suffixMentionsCsv(fileName)) return -1;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    auto beyond = [](qint64 value, qint64 limit) { return limit >= 0 && value > limit; };
    if (beyond(file.size(), limits.maxBytes)) {
        qDebug("[ReadCsv] file exceeds its limits");
        return -1;
    }
    QByteArray data = file.readAll();
    file.close();

    int bomLength = 0;
    QTextCodec* codec = codecForBom(data, bomLength);
    const QString text = codec->toUnicode(data.constData() + bomLength, data.size() - bomLength);
    data = QByteArray();

    QVector<CsvLine::Span> fields;
    int rowCount = 0;
    int start = 0;
    while (start < text.size()) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0) end = text.size();
        int lineEnd = end;
        if (lineEnd > start && text.at(lineEnd - 1) == QLatin1Char('\r')) --lineEnd;
        if (lineEnd > start) {
            const QStringView line = QStringView(text).mid(start, lineEnd - start);
            CsvLine::split(line, fields);
            if (beyond(++rowCount, limits.maxRows) ||
                beyond(fields.size(), limits.maxCellsPerRow)) {
                qDebug("[ReadCsv] file exceeds its limits");
                return -1;
            }
            if (!row(line, fields)) return 0;
        }
        start = end + 1;
    }
    return 0;
}

QByteArray CsvOpt::EncodeCsvLine(const QList<QVariant>& row) {
    QString line;
    for (const QVariant& cell : row) {
        QString text = cell.toString();
        // A line break would split one device into two rows, and a later row could be forged
        // through a field a terminal reports; the reader has no multi-line fields.
        text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (text.contains(QLatin1Char(','))) {
            line += QLatin1Char('"');
            line += text;
            line += QLatin1Char('"');
        } else {
            line += text;
        }
        line += QLatin1Char(',');
    }
    line += QLatin1Char('\n');
    return ansiCodec()->fromUnicode(line);
}

int CsvOpt::WriteCsv(const QString& fileName, const QList<QList<QVariant>>& rows) {
    if (fileName.isEmpty() || !suffixMentionsCsv(fileName)) return -1;
    if (QFile::exists(fileName)) QFile::remove(fileName);
    QFile file(fileName);
    // An export that could not be written must not be reported as written.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        qWarning() << "[WriteCsv] open file fail" << fileName;
        return -1;
    }
    for (const QList<QVariant>& row : rows) {
        const QByteArray bytes = EncodeCsvLine(row);
        if (file.write(bytes) != bytes.size()) {
            qWarning() << "[WriteCsv] write file fail" << fileName;
            return -1;
        }
    }
    file.close();
    return 0;
}
