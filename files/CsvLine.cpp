#include "files/CsvLine.h"

namespace CsvLine {

void split(QStringView line, QVector<Span>& fields) {
    fields.clear();
    if (line.isEmpty()) return;
    bool quoted = false;
    int start = 0;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            fields.append(Span{start, i - start});
            start = i + 1;
        }
    }
    fields.append(Span{start, int(line.size()) - start});
}

QString text(QStringView line, Span field) {
    const QStringView raw = line.mid(field.start, field.length);
    if (!raw.contains(QLatin1Char('"'))) return raw.toString();
    QString value = raw.toString();
    value.replace(QLatin1String("\"\""), QLatin1String("\""));
    if (value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    return value;
}

}  // namespace CsvLine
