#include "codec/DeviceReport.h"

#include <QTextCodec>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"

namespace {
enum class Text { Utf8, Gbk };

struct Field {
    QString DeviceReport::*member;
    int size;
    Text text;
};

// The body in wire order; the serial number's width is set by the layout.
const Field kFields[] = {
    {&DeviceReport::devSN, 0, Text::Utf8},
    {&DeviceReport::devType, 64, Text::Utf8},
    {&DeviceReport::LicensePlateNumber, 16, Text::Gbk},
    {&DeviceReport::PhoneNumber, 16, Text::Utf8},
    {&DeviceReport::AppVersion, 32, Text::Utf8},
    {&DeviceReport::McuVersion, 32, Text::Utf8},
    {&DeviceReport::FourGVersion, 32, Text::Utf8},
    {&DeviceReport::GnssVersion, 32, Text::Utf8},
    {&DeviceReport::SmartModule, 32, Text::Utf8},
    {&DeviceReport::Reserve, 32, Text::Utf8},
};

int sizeOf(const Field& field, bool extended) {
    return field.size != 0 ? field.size : extended ? 32 : 16;
}

// Plates carry Chinese characters in GBK whatever the host's own encoding is.
QTextCodec* gbk() {
    static QTextCodec* const codec = QTextCodec::codecForName("GBK");
    return codec;
}

QString decode(const char* bytes, int size, Text text) {
    const QByteArray raw = SocketPacketHandler::FieldBytes(bytes, size);
    if (text == Text::Utf8) return QString::fromUtf8(raw);
    return gbk() ? gbk()->toUnicode(raw) : QString::fromLocal8Bit(raw);
}

QByteArray encode(const QString& value, int size, Text text) {
    if (text == Text::Utf8) return TerminalPackets::field(value.toUtf8(), size);
    return TerminalPackets::field(gbk() ? gbk()->fromUnicode(value) : value.toLocal8Bit(), size);
}
}  // namespace

bool DeviceReport::parse(const QByteArray& body, bool extended, DeviceReport& out) {
    out = DeviceReport();
    if (body.size() < (extended ? kSizeEx : kSize)) return false;
    const char* p = body.constData();
    for (const Field& field : kFields) {
        const int size = sizeOf(field, extended);
        out.*field.member = decode(p, size, field.text);
        p += size;
    }
    return true;
}

QByteArray DeviceReport::body(bool extended) const {
    QByteArray out;
    out.reserve(extended ? kSizeEx : kSize);
    for (const Field& field : kFields)
        out += encode(this->*field.member, sizeOf(field, extended), field.text);
    return out;
}
