#pragma once

#include <QByteArray>
#include <QString>

// The terminal's side of the packet format: the bodies a terminal sends, framed with the
// service's codec.

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
constexpr int kMaxChunkData = 1348;  // 1400-byte body minus the 52-byte chunk head

// A whole packet with a valid check code; devId is padded with NUL bytes to 32.
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
