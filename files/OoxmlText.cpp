#include "files/OoxmlText.h"

#include <QRegularExpression>

namespace OoxmlText {

namespace {
const QRegularExpression& pattern() {
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    return escape;
}
}  // namespace

QString escapePatterns(const QString& text) {
    if (!text.contains(QLatin1String("_x"))) return text;
    QString out = text;
    return out.replace(pattern(), QStringLiteral("_x005F_x\\1_"));
}

QString unescape(const QString& stored) {
    if (!stored.contains(QLatin1String("_x"))) return stored;
    QString out;
    int from = 0;
    QRegularExpressionMatchIterator matches = pattern().globalMatch(stored);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        out += stored.midRef(from, match.capturedStart() - from);
        out += QChar(match.captured(1).toUShort(nullptr, 16));
        from = match.capturedEnd();
    }
    return out + stored.midRef(from);
}

}  // namespace OoxmlText
