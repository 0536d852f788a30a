#include "codec/TerminalPackets.h"

#include <cstring>

#include <QtEndian>

namespace {
QByteArray u32(quint32 value) {
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

quint32 readU32(const QByteArray& bytes, int offset) {
    return qFromBigEndian<quint32>(bytes.constData() + offset);
}
}  // namespace

namespace TerminalPackets {

QByteArray field(const QByteArray& text, int size) {
    QByteArray out = text.left(size);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

QByteArray frame(quint16 cmd, const QByteArray& devId, quint16 serialNo, const QByteArray& body) {
    SocketPacket header;
    header.cmd = cmd;
    std::memcpy(header.devId, field(devId, 32).constData(), 32);
    header.serialNo = serialNo;
    header.dataLen = static_cast<quint16>(body.size());
    QByteArray out;
    if (SocketPacketHandler().DataPack(header, body, out) != 0) out.clear();
    return out;
}

QByteArray reportBody(const DeviceReport& report, bool extended) {
    return report.body(extended);
}

QByteArray progressBody(quint32 percent) {
    return u32(percent);
}

QByteArray cmdResultBody(quint32 resultCode, const QString& text) {
    return u32(resultCode) + text.toUtf8();
}

QByteArray fileChunkBody(quint32 type, const QByteArray& fileName, quint32 counter1,
                         quint32 counter2, quint32 counter3, quint32 counter4,
                         const QByteArray& data) {
    return u32(type) + field(fileName, 32) + u32(counter1) + u32(counter2) + u32(counter3) +
           u32(counter4) + data;
}

bool parseUpgradeAnswer(const QByteArray& body, quint32& flag, QString& url) {
    if (body.size() < 4 + SocketPacketHandler::kUrlFieldSize) return false;
    flag = readU32(body, 0);
    url = QString::fromLocal8Bit(
        SocketPacketHandler::FieldBytes(body.constData() + 4, SocketPacketHandler::kUrlFieldSize));
    return true;
}

bool parseFileRequest(const QByteArray& body, quint32& type) {
    if (body.size() < 4) return false;
    type = readU32(body, 0);
    return true;
}

}  // namespace TerminalPackets
