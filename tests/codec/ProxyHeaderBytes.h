#pragma once

#include <QByteArray>

// PROXY protocol version 2 headers as a load balancer writes them, for tests.
namespace ProxyHeaderBytes {
// command 0 LOCAL, 1 PROXY; family 1 INET, 2 INET6, 0 UNSPEC; addresses: source, destination,
// source port, destination port, in network order (empty for LOCAL or UNSPEC); tlv follows.
inline QByteArray v2(int command, int family, const QByteArray& addresses,
                     const QByteArray& tlv = QByteArray()) {
    QByteArray header("\r\n\r\n\0\r\nQUIT\n", 12);
    header.append(static_cast<char>(0x20 | command));
    header.append(static_cast<char>((family << 4) | (family == 0 ? 0 : 1)));
    const int length = addresses.size() + tlv.size();
    header.append(static_cast<char>(length >> 8));
    header.append(static_cast<char>(length & 0xFF));
    return header + addresses + tlv;
}

inline QByteArray v2Tcp4(const char source[4], const char destination[4], quint16 sourcePort,
                         quint16 destinationPort) {
    QByteArray addresses(source, 4);
    addresses.append(destination, 4);
    for (quint16 port : {sourcePort, destinationPort}) {
        addresses.append(static_cast<char>(port >> 8));
        addresses.append(static_cast<char>(port & 0xFF));
    }
    return v2(1, 1, addresses);
}
}  // namespace ProxyHeaderBytes
