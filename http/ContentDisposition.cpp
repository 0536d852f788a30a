#include "http/ContentDisposition.h"

#include <QUrl>

QByteArray attachmentDisposition(const QString& name) {
    QByteArray plain;
    bool ascii = true;
    for (QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || u > 0x7e) {
            ascii = false;
            plain += '_';
        } else if (u == '"' || u == '\\') {
            plain += '_';
        } else {
            plain += static_cast<char>(u);
        }
    }
    QByteArray value = "attachment; filename=\"" + plain + '"';
    if (!ascii) value += "; filename*=UTF-8''" + QUrl::toPercentEncoding(name);
    return value;
}
