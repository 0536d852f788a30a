#pragma once

#include <QByteArray>
#include <QString>

#include "codec/SocketPacketHandler.h"

// The terminal's side of the packet format: the bodies a terminal sends, framed with the
// service's codec, and the parsers of the service's answers. Used by the terminal simulator and
// by every test that plays a terminal.

namespace TerminalPackets {
constexpr int kMaxChunkData =
    SocketPacketHandler::kMaxDataLen - SocketPacketHandler::kDeviceFileHeadSize;

// A fixed-width field: text padded with NUL bytes or cut to size.
QByteArray field(const QByteArray& text, int size);

// A whole packet with a valid check code; devId is padded with NUL bytes to 32. Empty when
// the body's length does not fit the 16-bit length field. Any code frames, so that tests can
// send the ones the service refuses.
QByteArray frame(quint16 cmd, const QByteArray& devId, quint16 serialNo, const QByteArray& body);

// Device report body in the standard layout (Command::Report) or the extended one.
QByteArray reportBody(const DeviceReport& report, bool extended);
QByteArray progressBody(quint32 percent);
QByteArray cmdResultBody(quint32 resultCode, const QString& text);
QByteArray fileChunkBody(quint32 type, const QByteArray& fileName, quint32 counter1,
                         quint32 counter2, quint32 counter3, quint32 counter4,
                         const QByteArray& data);

// Upgrade answer body (Command::UpgradeAnswer): false when shorter than 132 bytes.
bool parseUpgradeAnswer(const QByteArray& body, quint32& flag, QString& url);
// File request body (Command::FileRequest): false when shorter than 4 bytes.
bool parseFileRequest(const QByteArray& body, quint32& type);
}  // namespace TerminalPackets
