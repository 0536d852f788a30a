#include "codec/PacketFramer.h"

#include <QtEndian>

#include "codec/SocketPacketHandler.h"

int PacketFramer::pendingPacketLength() const {
    if (m_buffer.size() <= SocketPacketHandler::kHeaderSize) return 0;
    const char* p = m_buffer.constData();
    const quint16 cmd = qFromBigEndian<quint16>(p + 2);
    const quint16 dataLen = qFromBigEndian<quint16>(p + 38);
    if (static_cast<quint8>(p[0]) != 0x5A || static_cast<quint8>(p[1]) != 0xA5 ||
        cmd < kFirstCommand || cmd > kLastCommand || dataLen > SocketPacketHandler::kMaxDataLen)
        return -1;
    const int length = dataLen + SocketPacketHandler::kMinPacketSize;
    return m_buffer.size() < length ? 0 : length;
}

QByteArray PacketFramer::take(int length) {
    QByteArray packet = m_buffer.left(length);
    m_buffer.remove(0, length);
    return packet;
}
