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

void finishField(QString& field) {
    if (field.contains(QLatin1Char('"'))) {
        field.replace(QLatin1String("\"\""), QLatin1String("\""));
        if (field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
            field = field.mid(1, field.size() - 2);
    }
}

}  // namespace

QStringList CsvOpt::SplitCsvLine(const QString& line) {
    QStringList fields;
    QString field;
    int quotes = 0;  // 1 inside quotes, 0 outside
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            if (++quotes == 2) quotes = 0;
            field += c;
        } else if (c == QLatin1Char(',') && quotes == 0) {
            finishField(field);
            fields << field;
            field.clear();
            if (i == line.size() - 1) fields << QString();
        } else {
            field += c;
        }
    }
    if (!field.isEmpty()) {
        finishField(field);
        fields << field;
    }
    return fields;
}

int CsvOpt::ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows) {
    rows.clear();
    if (!QFile::exists(fileName) || !suffixMentionsCsv(fileName)) return -1;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray data = file.readAll();
    file.close();

    int bomLength = 0;
    QTextCodec* codec = codecForBom(data, bomLength);
    const QString text = codec->toUnicode(data.constData() + bomLength, data.size() - bomLength);

    int start = 0;
    while (start < text.size()) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0) end = text.size();
        int lineEnd = end;
        if (lineEnd > start && text.at(lineEnd - 1) == QLatin1Char('\r')) --lineEnd;
        if (lineEnd > start) {
            const QStringList fields = SplitCsvLine(text.mid(start, lineEnd - start));
            QList<QVariant> row;
            row.reserve(fields.size());
            for (const QString& field : fields) row << QVariant(field);
            rows << row;
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
        qDebug() << "[WriteCsv] open file fail" << fileName;
        return -1;
    }
    for (const QList<QVariant>& row : rows) {
        const QByteArray bytes = EncodeCsvLine(row);
        if (file.write(bytes) != bytes.size()) {
            qDebug() << "[WriteCsv] write file fail" << fileName;
            return -1;
        }
    }
    file.close();
    return 0;
}
