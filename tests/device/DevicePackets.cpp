#include "tests/device/DevicePackets.h"

#include <cstring>

#include <QtEndian>

#include "codec/SocketPacketHandler.h"

QByteArray field(const QByteArray& text, int size) {
    QByteArray out = text.left(size);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

QByteArray makePacket(quint16 cmd, const QByteArray& body, quint16 serialNo,
                      const QByteArray& devId) {
    SocketPacket header;
    header.cmd = cmd;
    std::memcpy(header.devId, field(devId, 32).constData(), 32);
    header.serialNo = serialNo;
    header.dataLen = static_cast<quint16>(body.size());
    QByteArray out;
    SocketPacketHandler().DataPack(header, body, out);
    return out;
}

QByteArray rawHeader(quint8 head0, quint8 head1, quint16 cmd, quint16 dataLen) {
    QByteArray out(40, '\0');
    out[0] = static_cast<char>(head0);
    out[1] = static_cast<char>(head1);
    qToBigEndian(cmd, out.data() + 2);
    qToBigEndian(dataLen, out.data() + 38);
    return out;
}
