#include "core/JsonText.h"

#include <cstdio>

namespace JsonText {

namespace {
char hexDigit(uint value) {
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

void appendUnicodeEscape(QByteArray& out, uint unit) {
    const char escape[] = {'\\',
                           'u',
                           hexDigit((unit >> 12) & 0xf),
                           hexDigit((unit >> 8) & 0xf),
                           hexDigit((unit >> 4) & 0xf),
                           hexDigit(unit & 0xf)};
    out.append(escape, sizeof escape);
}
}  // namespace

void appendString(QByteArray& out, const QString& text) {
    out.append('"');
    const QChar* src = text.constData();
    const QChar* const end = src + text.size();
    while (src != end) {
        const uint u = (src++)->unicode();
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                out.append(char(u));
                continue;
            }
            out.append('\\');
            switch (u) {
                case '"':
                    out.append('"');
                    break;
                case '\\':
                    out.append('\\');
                    break;
                case '\b':
                    out.append('b');
                    break;
                case '\f':
                    out.append('f');
                    break;
                case '\n':
                    out.append('n');
                    break;
                case '\r':
                    out.append('r');
                    break;
                case '\t':
                    out.append('t');
                    break;
                default:
                    out.append("u00", 3);
                    out.append(hexDigit(u >> 4));
                    out.append(hexDigit(u & 0xf));
            }
        } else if (u < 0x800) {
            out.append(char(0xc0 | (u >> 6)));
            out.append(char(0x80 | (u & 0x3f)));
        } else if (!QChar::isSurrogate(u)) {
            out.append(char(0xe0 | (u >> 12)));
            out.append(char(0x80 | ((u >> 6) & 0x3f)));
            out.append(char(0x80 | (u & 0x3f)));
        } else if (QChar::isHighSurrogate(u) && src != end && src->isLowSurrogate()) {
            const uint code = QChar::surrogateToUcs4(ushort(u), (src++)->unicode());
            out.append(char(0xf0 | (code >> 18)));
            out.append(char(0x80 | ((code >> 12) & 0x3f)));
            out.append(char(0x80 | ((code >> 6) & 0x3f)));
            out.append(char(0x80 | (code & 0x3f)));
        } else {
            appendUnicodeEscape(out, u);
        }
    }
    out.append('"');
}

}  // namespace JsonText
