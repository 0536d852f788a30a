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

const QByteArray kUtf8Mark("\xEF\xBB\xBF");

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

// A cell a spreadsheet would evaluate gets a leading apostrophe, which spreadsheets read as
// "this is text". So that the reader can take exactly that apostrophe away again, a text that
// already begins with apostrophes followed by such a character gets one more: the reader
// removes one apostrophe from every cell of that shape, and only from those.
bool needsMark(const QString& text) {
    int at = 0;
    while (at < text.size() && text.at(at) == QLatin1Char('\'')) ++at;
    return at < text.size() && QStringLiteral("=+-@\t\r").contains(text.at(at));
}

QString unmarked(const QString& text) {
    if (text.startsWith(QLatin1Char('\'')) && needsMark(text.mid(1))) return text.mid(1);
    return text;
}

// Reads the record starting at `at` and moves `at` past its line end. An empty line gives no
// fields. A quote opens a quoted field only as its first character; elsewhere it is text.
void nextRecord(const QString& text, int& at, QStringList& fields) {
    fields.clear();
    const int size = text.size();
    if (at < size && (text.at(at) == QLatin1Char('\n') || text.at(at) == QLatin1Char('\r'))) {
        at += text.midRef(at, 2) == QLatin1String("\r\n") ? 2 : 1;
        return;
    }
    QString field;
    bool quoted = false;
    bool started = false;  // the field has a character or an opening quote
    while (at < size) {
        const QChar c = text.at(at++);
        if (quoted) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (at < size && text.at(at) == QLatin1Char('"')) {
                field += c;
                ++at;
            } else {
                quoted = false;
            }
        } else if (c == QLatin1Char('"') && !started) {
            quoted = started = true;
        } else if (c == QLatin1Char(',')) {
            fields << unmarked(field);
            field.clear();
            started = false;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && at < size && text.at(at) == QLatin1Char('\n')) ++at;
            break;
        } else {
            field += c;
            started = true;
        }
    }
    fields << unmarked(field);
}

bool beyond(qint64 value, qint64 limit) {
    return limit >= 0 && value > limit;
}

int eachRecord(const QString& text, const CsvLimits& limits, const CsvOpt::RowVisitor& row) {
    QStringList fields;
    int rowCount = 0;
    for (int at = 0; at < text.size();) {
        nextRecord(text, at, fields);
        if (fields.isEmpty()) continue;
        if (beyond(++rowCount, limits.maxRows) || beyond(fields.size(), limits.maxCellsPerRow)) {
            qDebug("[ReadCsv] file exceeds its limits");
            return -1;
        }
        if (!row(fields)) return 0;
    }
    return 0;
}

}  // namespace

QList<QStringList> CsvOpt::parse(const QString& text) {
    QList<QStringList> rows;
    eachRecord(text, CsvLimits(), [&rows](const QStringList& fields) {
        rows << fields;
        return true;
    });
    return rows;
}

int CsvOpt::ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows) {
    return ReadCsv(fileName, rows, CsvLimits());
}

int CsvOpt::ReadCsv(const QString& fileName, QList<QList<QVariant>>& rows,
                    const CsvLimits& limits) {
    rows.clear();
    const int result = forEachRow(fileName, limits, [&](const QStringList& fields) {
        QList<QVariant> row;
        row.reserve(fields.size());
        for (const QString& field : fields) row << QVariant(field);
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
    return eachRecord(text, limits, row);
}

QString CsvOpt::cell(const QString& text) {
    QString out = needsMark(text) ? QLatin1Char('\'') + text : text;
    const bool quoted = out.contains(QLatin1Char('"')) || out.contains(QLatin1Char(',')) ||
                        out.contains(QLatin1Char('\r')) || out.contains(QLatin1Char('\n'));
    if (!quoted) return out;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QByteArray CsvOpt::fileStart(Charset charset) {
    return charset == Charset::Utf8 ? kUtf8Mark : QByteArray();
}

QByteArray CsvOpt::EncodeCsvLine(const QList<QVariant>& row, Charset charset) {
    QString line;
    for (const QVariant& value : row) {
        line += cell(value.toString());
        line += QLatin1Char(',');
    }
    line += QLatin1Char('\n');
    return charset == Charset::Utf8 ? line.toUtf8() : ansiCodec()->fromUnicode(line);
}

bool CsvOpt::lostInGbk(const QString& stored, const QString& read) {
    if (stored == read || ansiCodec()->canEncode(stored)) return false;
    return ansiCodec()->toUnicode(ansiCodec()->fromUnicode(stored)) == read;
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
