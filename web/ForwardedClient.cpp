#include "web/ForwardedClient.h"

#include <QHostAddress>

QString forwardedClient(const QString& peer, const QByteArrayList& forwardedFor,
                        const ProxyTrust& proxies) {
    QString client = peer;
    if (!proxies.trusts(QHostAddress(peer))) return client;
    QStringList hops;
    for (const QByteArray& value : forwardedFor)
        hops << QString::fromLatin1(value).split(QLatin1Char(','));
    for (auto hop = hops.crbegin(); hop != hops.crend(); ++hop) {
        const QHostAddress address(hop->trimmed());
        if (address.isNull()) break;
        client = address.toString();
        if (!proxies.trusts(address)) break;
    }
    return client;
}
