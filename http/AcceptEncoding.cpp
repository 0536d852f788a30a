#include "http/AcceptEncoding.h"

#include <QStringList>

bool parseAcceptEncoding(const QString& value, QMap<QString, float>& weights) {
    const QStringList items = value.split(',');
    for (QString item : items) {
        item = item.trimmed().remove(' ');
        const int semicolon = item.indexOf(';');
        if (semicolon < 0) {
            weights.insert(item, 1.0f);
            continue;
        }
        const QString name = item.left(semicolon);
        const QString rest = item.mid(semicolon + 1);
        if (!rest.contains(QLatin1String("q="))) return false;
        bool ok = false;
        const float q = rest.mid(2).toFloat(&ok);
        if (!ok) return false;
        weights.insert(name, q);
    }
    return true;
}

bool streamAfterAcceptEncoding(bool hasHeader, const QString& value, bool stream) {
    if (!hasHeader) return stream;
    QMap<QString, float> weights;
    if (!parseAcceptEncoding(value, weights)) return stream;
    if (weights.value(QStringLiteral("*"), 0.0f) > 0) return stream;
    return stream && weights.value(QStringLiteral("chuncked"), 0.0f) > 0;
}
