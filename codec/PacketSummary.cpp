#include "codec/PacketSummary.h"

#include <QtEndian>

#include "codec/SocketPacketHandler.h"

QByteArray packetSummary(const QByteArray& packet, int maxDataBytes) {
    if (packet.size() < SocketPacketHandler::kMinPacketSize)
        return "short " + packet.left(maxDataBytes).toHex();
    const char* p = packet.constData();
    const int bodySize = packet.size() - SocketPacketHandler::kMinPacketSize;
    QByteArray text = "cmd " + QByteArray::number(qFromBigEndian<quint16>(p + 2));
    text += " devId " + SocketPacketHandler::FieldBytes(p + 4, 32).toHex();
    text += " serialNo " + QByteArray::number(qFromBigEndian<quint16>(p + 36));
    text += " dataLen " + QByteArray::number(qFromBigEndian<quint16>(p + 38));
    text += " check " + packet.right(2).toHex();
    text += " data " +
            packet.mid(SocketPacketHandler::kHeaderSize, qMin(bodySize, maxDataBytes)).toHex();
    if (bodySize > maxDataBytes) text += "...(" + QByteArray::number(bodySize) + " bytes)";
    return text;
}
