#include "core/ProxyTrust.h"

#include <sys/socket.h>

namespace {
// An IPv4 peer of a dual-stack socket arrives as ::ffff:a.b.c.d; ranges are written as IPv4.
QHostAddress plain(const QHostAddress& address) {
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : address;
}
}  // namespace

ProxyTrust::ProxyTrust() {
    m_ranges << QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))
             << QHostAddress::parseSubnet(QStringLiteral("::1/128"));
}

ProxyTrust ProxyTrust::parse(const QString& text, QStringList* invalid) {
    ProxyTrust trust;
    const QStringList entries = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QList<QPair<QHostAddress, int>> ranges;
    for (const QString& raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty()) continue;
        // A bare address is itself alone (Qt would widen a short IPv4 one to its old class).
        QPair<QHostAddress, int> range;
        if (entry.contains(QLatin1Char('/'))) {
            range = QHostAddress::parseSubnet(entry);
        } else if (const QHostAddress single(entry); !single.isNull()) {
            range =
                qMakePair(single, single.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128);
        }
        if (range.first.isNull()) {
            if (invalid) *invalid << entry;
            continue;
        }
        ranges << range;
    }
    if (!ranges.isEmpty()) trust.m_ranges = ranges;
    return trust;
}

bool ProxyTrust::trusts(const QHostAddress& peer) const {
    const QHostAddress address = plain(peer);
    if (address.isNull()) return false;
    for (const auto& range : m_ranges)
        if (address.isInSubnet(range)) return true;
    return false;
}

QHostAddress ProxyTrust::peerOf(qintptr descriptor) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(static_cast<int>(descriptor), reinterpret_cast<sockaddr*>(&storage),
                      &length) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr*>(&storage));
}

QString ProxyTrust::text() const {
    QStringList parts;
    for (const auto& range : m_ranges)
        parts << QStringLiteral("%1/%2").arg(range.first.toString()).arg(range.second);
    return parts.join(QStringLiteral(", "));
}
