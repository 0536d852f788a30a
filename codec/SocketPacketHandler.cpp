#include "codec/SocketPacketHandler.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <QDebug>
#include <QtEndian>

namespace {
// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR. Eight bytes a step
// (slicing): table k holds what a byte contributes with k zero bytes after it, so the eight
// lookups of a step are independent of each other rather than a chain of one per byte.
constexpr int kSlices = 8;
using CrcTables = std::array<std::array<quint16, 256>, kSlices>;
constexpr CrcTables makeCrcTables() {
    CrcTables tables{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<quint16>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        tables[0][static_cast<size_t>(i)] = crc;
    }
    for (size_t k = 1; k < kSlices; ++k)
        for (size_t i = 0; i < 256; ++i) {
            const quint16 before = tables[k - 1][i];
            tables[k][i] = static_cast<quint16>((before << 8) ^ tables[0][before >> 8]);
        }
    return tables;
}
constexpr CrcTables kCrc = makeCrcTables();

quint16 readU16(const char* p) {
    return qFromBigEndian<quint16>(p);
}
quint32 readU32(const char* p) {
    return qFromBigEndian<quint32>(p);
}

void appendU16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToBigEndian(value, bytes);
    out.append(bytes, 2);
}

void appendU32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

QString utf8Field(const char* field, int size) {
    return QString::fromUtf8(SocketPacketHandler::FieldBytes(field, size));
}

}  // namespace

QByteArray SocketPacketHandler::FieldBytes(const char* field, int size) {
    const void* nul = std::memchr(field, '\0', static_cast<size_t>(size));
    const int length = nul ? static_cast<int>(static_cast<const char*>(nul) - field) : size;
    return QByteArray(field, length);
}

quint16 SocketPacketHandler::CheckCode(const char* bytes, int length) {
    const auto* p = reinterpret_cast<const quint8*>(bytes);
    const quint8* const end = p + std::max(length, 0);
    quint16 crc = 0;
    for (; end - p >= kSlices; p += kSlices) {
        const unsigned high = (crc >> 8) ^ p[0];
        const unsigned low = (crc & 0xFF) ^ p[1];
        crc = static_cast<quint16>(kCrc[7][high] ^ kCrc[6][low] ^ kCrc[5][p[2]] ^ kCrc[4][p[3]] ^
                                   kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]]);
    }
    for (; p != end; ++p) crc = static_cast<quint16>((crc << 8) ^ kCrc[0][(crc >> 8) ^ *p]);
    return crc;
}

int SocketPacketHandler::DataParse(const QByteArray& packet, SocketPacket& out) const {
    if (packet.size() < kMinPacketSize) {
        qDebug() << "total data length error!";
        return -1;
    }
    const char* p = packet.constData();
    if (static_cast<quint8>(p[0]) != m_head0 || static_cast<quint8>(p[1]) != m_head1) {
        qDebug() << "data header error!";
        return -1;
    }
    out.head0 = static_cast<quint8>(p[0]);
    out.head1 = static_cast<quint8>(p[1]);
    out.cmd = readU16(p + 2);
    std::memcpy(out.devId, p + 4, sizeof out.devId);
    out.serialNo = readU16(p + 36);
    out.dataLen = readU16(p + 38);
    // A length field pointing past the end must not make us read beyond the buffer.
    if (packet.size() < kMinPacketSize + out.dataLen) {
        qDebug() << "total data length error!";
        return -1;
    }
    out.data = packet.mid(kHeaderSize, out.dataLen);
    out.checkCode = readU16(p + kHeaderSize + out.dataLen);
    if (CheckCode(p + 2, packet.size() - 4) != out.checkCode) {
        qDebug() << "check code error!";
        return -1;
    }
    return 0;
}

int SocketPacketHandler::DataPack(const SocketPacket& header, const QByteArray& body,
                                  QByteArray& out) const {
    if (body.size() != header.dataLen) {
        qDebug() << "data length does not match!";
        return -1;
    }
    out.clear();
    out.reserve(kMinPacketSize + body.size());
    out.append(static_cast<char>(m_head0));
    out.append(static_cast<char>(m_head1));
    appendU16(out, header.cmd);
    out.append(header.devId, sizeof header.devId);
    appendU16(out, header.serialNo);
    appendU16(out, header.dataLen);
    out.append(body);
    appendU16(out, CheckCode(out.constData() + 2, out.size() - 2));
    return 0;
}

int SocketPacketHandler::ParseDeviceReport(const QByteArray& body, bool extended,
                                           DeviceReport& out) const {
    if (!DeviceReport::parse(body, extended, out)) {
        qDebug() << "data length error!";
        return -1;
    }
    return 0;
}

int SocketPacketHandler::ParseUpgradeProgress(const QByteArray& body, int& out) const {
    if (body.size() < 4) {
        qDebug() << "updgrade progress:data length error!";
        return -1;
    }
    out = static_cast<int>(readU32(body.constData()));
    return 0;
}

int SocketPacketHandler::ParseCmdResult(const QByteArray& body, CmdResultData& out) const {
    out = CmdResultData();
    if (body.size() < 4) {
        // Too short to hold a result code: not a success, so the command stays pending.
        out.resultCode = 0xFFFFFFFFu;
        return 0;
    }
    out.resultCode = readU32(body.constData());
    out.text = utf8Field(body.constData() + 4, body.size() - 4);
    return 0;
}

int SocketPacketHandler::ParseDeviceFile(const QByteArray& body, DeviceFileData& out) const {
    if (body.size() < kDeviceFileHeadSize) {
        qDebug() << "device file:data length error!";
        return -1;
    }
    const char* p = body.constData();
    out.type = readU32(p);
    out.fileName = utf8Field(p + 4, 32);
    out.counter1 = readU32(p + 36);
    out.counter2 = readU32(p + 40);
    out.counter3 = readU32(p + 44);
    out.counter4 = readU32(p + 48);
    out.data = body.mid(kDeviceFileHeadSize);
    return 0;
}

int SocketPacketHandler::PackUpgradeFlag(const UpgradeFlagData& in, QByteArray& out) const {
    out.clear();
    appendU32(out, in.flag);
    QByteArray url = in.url.toLocal8Bit().left(kUrlFieldSize);
    url.append(QByteArray(kUrlFieldSize - url.size(), '\0'));
    out.append(url);
    return 0;
}

bool SocketPacketHandler::FitsUrlField(const QString& url) {
    return url.toLocal8Bit().size() <= kUrlFieldSize;
}

int SocketPacketHandler::PackEmpty(QByteArray& out) const {
    out.clear();
    return 0;
}

int SocketPacketHandler::PackConfigCmd(const QString& command, QByteArray& out) const {
    out = command.toUtf8();
    return 0;
}

int SocketPacketHandler::PackGetFile(quint32 fileType, QByteArray& out) const {
    out.clear();
    appendU32(out, fileType);
    return 0;
}

quint16 SocketPacketHandler::NextSerialNo(quint16 received) {
    return received == 0xFFFF ? 1 : static_cast<quint16>(received + 1);
}

SocketPacket SocketPacketHandler::AnswerHeader(const SocketPacket& received, Command answer,
                                               quint16 dataLen) {
    SocketPacket header = received;
    header.data.clear();
    header.cmd = code(answer);
    header.dataLen = dataLen;
    if (answer != Command::UpgradeAnswer) header.serialNo = NextSerialNo(received.serialNo);
    return header;
}
