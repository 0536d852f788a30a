#include "http/RequestTarget.h"

QStringRef targetPath(const QString& target) {
    const int query = target.indexOf(QLatin1Char('?'));
    return query < 0 ? QStringRef(&target) : target.leftRef(query);
}

QByteArray targetPath(const QByteArray& target) {
    const int query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}
