#include "http/ByteRange.h"

namespace {
// Decimal digits only, no sign or blank inside; false for an empty or too large text.
bool number(const QString& text, qint64& value) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}
}  // namespace

ByteRange parseByteRange(const QString& header, qint64 size, qint64& offset, qint64& length) {
    offset = 0;
    length = size;
    QString text = header;
    text.remove(QLatin1Char(' ')).remove(QLatin1Char('\t'));
    const QString unit = QStringLiteral("bytes=");
    if (!text.startsWith(unit, Qt::CaseInsensitive)) return ByteRange::Whole;
    const QString ranges = text.mid(unit.size());
    const int dash = ranges.indexOf(QLatin1Char('-'));
    if (dash < 0 || ranges.contains(QLatin1Char(','))) return ByteRange::Whole;
    const QString firstText = ranges.left(dash);
    const QString lastText = ranges.mid(dash + 1);
    qint64 first = 0;
    qint64 last = 0;
    if (firstText.isEmpty()) {
        // The final lastText bytes.
        if (!number(lastText, last)) return ByteRange::Whole;
        if (last == 0 || size == 0) return ByteRange::Unsatisfiable;
        length = qMin(last, size);
        offset = size - length;
        return ByteRange::Partial;
    }
    if (!number(firstText, first)) return ByteRange::Whole;
    if (lastText.isEmpty()) {
        last = size - 1;
    } else if (!number(lastText, last) || last < first) {
        return ByteRange::Whole;
    }
    if (first >= size) return ByteRange::Unsatisfiable;
    offset = first;
    length = qMin(last, size - 1) - first + 1;
    return ByteRange::Partial;
}
