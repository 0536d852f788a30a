#include "codec/ProxyHeader.h"

#include <gtest/gtest.h>

#include "tests/codec/ProxyHeaderBytes.h"

namespace {
using Status = ProxyHeader::Status;

QByteArray v2Tcp6() {
    QByteArray addresses;
    // 2001:db8::7 port 40001 to 2001:db8::1 port 10022
    addresses.append(QByteArray::fromHex("20010db8000000000000000000000007"));
    addresses.append(QByteArray::fromHex("20010db8000000000000000000000001"));
    addresses.append(QByteArray::fromHex("9c412726"));
    return ProxyHeaderBytes::v2(1, 2, addresses);
}

struct Complete {
    const char* name;
    QByteArray header;
    bool hasSource;
    const char* address;
    quint16 port;
};
}  // namespace

// Each header whole, followed by a packet's first bytes that must not be taken.
TEST(ProxyHeader, CompleteHeadersNameTheTerminalOrLeaveTheConnectionsPeer) {
    const QByteArray tlv = QByteArray::fromHex("0400020000");  // a NOOP TLV, skipped
    const Complete cases[] = {
        {"v1 TCP4", "PROXY TCP4 192.0.2.7 192.0.2.1 40001 10022\r\n", true, "192.0.2.7", 40001},
        {"v1 TCP6", "PROXY TCP6 2001:DB8::7 2001:db8::1 65535 10022\r\n", true, "2001:db8::7",
         65535},
        {"v1 UNKNOWN", "PROXY UNKNOWN\r\n", false, "", 0},
        {"v1 UNKNOWN with addresses", "PROXY UNKNOWN ffff:f::1 ffff:f::2 1 2\r\n", false, "", 0},
        {"v2 TCP4", ProxyHeaderBytes::v2Tcp4("\xC0\x00\x02\x07", "\xC0\x00\x02\x01", 40001, 10022),
         true, "192.0.2.7", 40001},
        {"v2 TCP6", v2Tcp6(), true, "2001:db8::7", 40001},
        {"v2 TCP4 with TLV",
         ProxyHeaderBytes::v2(1, 1,
                              QByteArray::fromHex("0a000001"
                                                  "0a000002"
                                                  "00500051"),
                              tlv),
         true, "10.0.0.1", 80},
        {"v2 LOCAL", ProxyHeaderBytes::v2(0, 0, QByteArray()), false, "", 0},
        {"v2 LOCAL with addresses", ProxyHeaderBytes::v2(0, 1, QByteArray(12, '\x01')), false, "",
         0},
        {"v2 PROXY UNSPEC", ProxyHeaderBytes::v2(1, 0, QByteArray()), false, "", 0},
    };
    const QByteArray packetStart("\x5A\xA5\x00\x01", 4);
    for (const Complete& c : cases) {
        const ProxyHeader h = ProxyHeader::parse(c.header + packetStart);
        ASSERT_EQ(h.status, Status::Complete) << c.name;
        EXPECT_EQ(h.length, c.header.size()) << c.name;
        EXPECT_EQ(h.hasSource, c.hasSource) << c.name;
        EXPECT_EQ(h.sourceAddress, QString::fromLatin1(c.address)) << c.name;
        EXPECT_EQ(h.sourcePort, c.port) << c.name;

        // Every shorter piece is a valid beginning that waits for more.
        for (int n = 1; n < c.header.size(); ++n)
            ASSERT_EQ(ProxyHeader::parse(c.header.left(n)).status, Status::Incomplete)
                << c.name << " at " << n;
    }
}

TEST(ProxyHeader, AnythingElseIsInvalid) {
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"a device packet", QByteArray("\x5A\xA5\x00\x01", 4) + QByteArray(40, '\0')},
        {"an HTTP request", "GET / HTTP/1.0\r\n\r\n"},
        {"lower-case v1", "proxy TCP4 192.0.2.7 192.0.2.1 40001 10022\r\n"},
        {"v1 without CRLF in 107 bytes", "PROXY TCP4 " + QByteArray(100, '1')},
        {"v1 family", "PROXY UDP4 192.0.2.7 192.0.2.1 40001 10022\r\n"},
        {"v1 IPv6 under TCP4", "PROXY TCP4 2001:db8::7 192.0.2.1 40001 10022\r\n"},
        {"v1 address", "PROXY TCP4 192.0.2.300 192.0.2.1 40001 10022\r\n"},
        {"v1 port too big", "PROXY TCP4 192.0.2.7 192.0.2.1 65536 10022\r\n"},
        {"v1 port with a leading zero", "PROXY TCP4 192.0.2.7 192.0.2.1 040001 10022\r\n"},
        {"v1 port sign", "PROXY TCP4 192.0.2.7 192.0.2.1 +4000 10022\r\n"},
        {"v1 missing field", "PROXY TCP4 192.0.2.7 192.0.2.1 40001\r\n"},
        {"v1 double space", "PROXY TCP4  192.0.2.7 192.0.2.1 40001 10022\r\n"},
        {"v2 version 1", ProxyHeaderBytes::v2(1, 1, QByteArray(12, '\0')).replace(12, 1, "\x11")},
        {"v2 command 2", ProxyHeaderBytes::v2(1, 1, QByteArray(12, '\0')).replace(12, 1, "\x22")},
        {"v2 family 4", ProxyHeaderBytes::v2(1, 4, QByteArray(12, '\0'))},
        {"v2 TCP4 addresses short", ProxyHeaderBytes::v2(1, 1, QByteArray(11, '\0'))},
        {"v2 TCP6 addresses short", ProxyHeaderBytes::v2(1, 2, QByteArray(35, '\0'))},
        {"v2 beyond the length bound",
         ProxyHeaderBytes::v2(1, 1, QByteArray(ProxyHeader::kMaxLength, '\0'))},
        {"v2 signature broken", QByteArray("\r\n\r\n\0\r\nQUIT\r", 12)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProxyHeader::parse(c.bytes).status, Status::Invalid) << c.name;
    EXPECT_EQ(ProxyHeader::parse(QByteArray()).status, Status::Incomplete);
}
