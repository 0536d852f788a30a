#pragma once

#include <QByteArray>

#include "codec/Command.h"
#include "codec/DeviceReport.h"
#include "codec/SocketPacket.h"

// The device packet format: 40-byte header (magic 0x5A 0xA5, cmd, devId, serialNo, dataLen),
// a body of at most 1400 bytes and a CRC-16/XMODEM over everything between magic and check
// code. Stateless apart from the magic bytes; every operation returns 0 or -1.
class SocketPacketHandler {
  public:
    static constexpr int kHeaderSize = 40;
    static constexpr int kMinPacketSize = 42;
    static constexpr int kMaxDataLen = 1400;
    static constexpr int kDeviceFileHeadSize = 52;
    static constexpr int kUrlFieldSize = 128;

    int DataParse(const QByteArray& packet, SocketPacket& out) const;
    int DataPack(const SocketPacket& header, const QByteArray& body, QByteArray& out) const;
    static quint16 CheckCode(const char* bytes, int length);

    // The standard layout (Command::Report) or the extended one (Command::ReportEx).
    int ParseDeviceReport(const QByteArray& body, bool extended, DeviceReport& out) const;
    int ParseUpgradeProgress(const QByteArray& body, int& out) const;
    int ParseCmdResult(const QByteArray& body, CmdResultData& out) const;
    int ParseDeviceFile(const QByteArray& body, DeviceFileData& out) const;

    int PackUpgradeFlag(const UpgradeFlagData& in, QByteArray& out) const;
    // Whether the upgrade answer carries url whole: a longer one would be cut.
    static bool FitsUrlField(const QString& url);
    int PackEmpty(QByteArray& out) const;
    int PackConfigCmd(const QString& command, QByteArray& out) const;
    int PackGetFile(quint32 fileType, QByteArray& out) const;

    // Serial number of an answer other than the upgrade answer: one more, wrapping past 0.
    static quint16 NextSerialNo(quint16 received);
    // The header of an answer to `received`: devId copied, cmd and dataLen set; the upgrade
    // answer keeps the received serial number, every other answer takes the next.
    static SocketPacket AnswerHeader(const SocketPacket& received, Command answer, quint16 dataLen);

    // The text of a fixed-width field: bytes up to the first NUL or the end of the field.
    static QByteArray FieldBytes(const char* field, int size);

  private:
    const quint8 m_head0 = 0x5A;
    const quint8 m_head1 = 0xA5;
};
