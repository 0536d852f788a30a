#pragma once

#include <QByteArray>
#include <QString>

#include "codec/SocketPacketHandler.h"

// The terminal's side of the packet format: the bodies a terminal sends, framed with the
// service's codec, and the parsers of the service's answers. Used by the terminal simulator and
// by every test that plays a terminal.

struct TerminalIdentity {
    QString devSN;
    QString devType;
    QString LicensePlateNumber;  // sent in GBK
    QString PhoneNumber;
    QString AppVersion;
    QString McuVersion;
    QString FourGVersion;
    QString GnssVersion;
    QString SmartModule;
    QString Reserve;
};

namespace TerminalPackets {
constexpr int kMaxChunkData =
    SocketPacketHandler::kMaxDataLen - SocketPacketHandler::kDeviceFileHeadSize;

// A fixed-width field: text padded with NUL bytes or cut to size.
QByteArray field(const QByteArray& text, int size);

// A whole packet with a valid check code; devId is padded with NUL bytes to 32. Empty when
// the body's length does not fit the 16-bit length field.
QByteArray frame(quint16 cmd, const QByteArray& devId, quint16 serialNo, const QByteArray& body);

// Device report body: 304 bytes standard (0x0001), 320 extended (0x0006).
QByteArray reportBody(const TerminalIdentity& identity, bool extended);
QByteArray progressBody(quint32 percent);
QByteArray cmdResultBody(quint32 resultCode, const QString& text);
QByteArray fileChunkBody(quint32 type, const QByteArray& fileName, quint32 counter1,
                         quint32 counter2, quint32 counter3, quint32 counter4,
                         const QByteArray& data);

// Upgrade answer body (0x0001 from the service): false when shorter than 132 bytes.
bool parseUpgradeAnswer(const QByteArray& body, quint32& flag, QString& url);
// File request body (0x0004 from the service): false when shorter than 4 bytes.
bool parseFileRequest(const QByteArray& body, quint32& type);
}  // namespace TerminalPackets
