#include "codec/ProxyHeader.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QList>

namespace {
const QByteArray kV1Prefix("PROXY ");
const QByteArray kV2Signature("\r\n\r\n\0\r\nQUIT\n", 12);
constexpr int kV1MaxLength = 107;  // the protocol's own bound, CRLF included
constexpr int kV2FixedLength = 16;

ProxyHeader invalid() {
    ProxyHeader header;
    header.status = ProxyHeader::Status::Invalid;
    return header;
}

// Whether the first min(size, prefix) bytes agree with prefix.
bool startsLike(const QByteArray& bytes, const QByteArray& prefix) {
    const int n = qMin(bytes.size(), prefix.size());
    return bytes.left(n) == prefix.left(n);
}

// A canonical address text, or empty when text is not an address of that family.
QString addressText(int family, const QByteArray& text) {
    unsigned char raw[sizeof(in6_addr)];
    if (inet_pton(family, text.constData(), raw) != 1) return QString();
    char out[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(family, raw, out, sizeof out)) return QString();
    return QString::fromLatin1(out);
}

bool parsePort(const QByteArray& text, quint16& port) {
    // Decimal digits only, no sign or leading zero (as the protocol writes them).
    if (text.isEmpty() || text.size() > 5 || (text.size() > 1 && text.at(0) == '0')) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const int value = text.toInt();
    if (value > 65535) return false;
    port = static_cast<quint16>(value);
    return true;
}

ProxyHeader parseV1(const QByteArray& bytes) {
    const int end = bytes.indexOf("\r\n");
    if (end < 0) {
        if (bytes.size() >= kV1MaxLength) return invalid();
        ProxyHeader pending;
        return pending;
    }
    if (end + 2 > kV1MaxLength) return invalid();
    const QList<QByteArray> fields = bytes.left(end).split(' ');
    ProxyHeader header;
    header.status = ProxyHeader::Status::Complete;
    header.length = end + 2;
    if (fields.size() >= 2 && fields.at(1) == "UNKNOWN") return header;  // the rest is ignored
    if (fields.size() != 6) return invalid();
    const int family = fields.at(1) == "TCP4" ? AF_INET : fields.at(1) == "TCP6" ? AF_INET6 : -1;
    if (family < 0) return invalid();
    header.sourceAddress = addressText(family, fields.at(2));
    quint16 destinationPort = 0;
    if (header.sourceAddress.isEmpty() || addressText(family, fields.at(3)).isEmpty() ||
        !parsePort(fields.at(4), header.sourcePort) || !parsePort(fields.at(5), destinationPort))
        return invalid();
    header.hasSource = true;
    return header;
}

ProxyHeader parseV2(const QByteArray& bytes) {
    if (bytes.size() < kV2FixedLength) return ProxyHeader();
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.constData());
    const int version = raw[12] >> 4;
    const int command = raw[12] & 0x0F;
    if (version != 2 || command > 1) return invalid();
    const int family = raw[13] >> 4;
    const int transport = raw[13] & 0x0F;
    const int addressLength = (raw[14] << 8) | raw[15];
    const int length = kV2FixedLength + addressLength;
    if (family > 3 || transport > 2 || length > ProxyHeader::kMaxLength) return invalid();
    if (bytes.size() < length) return ProxyHeader();

    ProxyHeader header;
    header.status = ProxyHeader::Status::Complete;
    header.length = length;
    // LOCAL: the balancer speaking for itself; UNSPEC or UNIX: no address of use here.
    if (command == 0 || (family != 1 && family != 2)) return header;
    const int addressFamily = family == 1 ? AF_INET : AF_INET6;
    const int addressSize = family == 1 ? 4 : 16;
    if (addressLength < 2 * addressSize + 4) return invalid();
    char text[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(addressFamily, raw + kV2FixedLength, text, sizeof text)) return invalid();
    const unsigned char* port = raw + kV2FixedLength + 2 * addressSize;
    header.sourceAddress = QString::fromLatin1(text);
    header.sourcePort = static_cast<quint16>((port[0] << 8) | port[1]);
    header.hasSource = true;
    return header;
}
}  // namespace

ProxyHeader ProxyHeader::parse(const QByteArray& bytes) {
    if (bytes.isEmpty()) return ProxyHeader();
    if (startsLike(bytes, kV2Signature)) {
        return bytes.size() < kV2Signature.size() ? ProxyHeader() : parseV2(bytes);
    }
    if (startsLike(bytes, kV1Prefix)) {
        return bytes.size() < kV1Prefix.size() ? ProxyHeader() : parseV1(bytes);
    }
    return invalid();
}
