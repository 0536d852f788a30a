#include "codec/PacketFramer.h"

#include <gtest/gtest.h>
#include <QList>

#include "codec/TerminalPackets.h"
#include "tests/codec/RawHeader.h"

namespace {
using TerminalPackets::frame;
// Feeds the chunks in order and collects every packet cut; false once the stream is refused.
bool cut(const QList<QByteArray>& chunks, QList<QByteArray>& packets, PacketFramer& framer) {
    for (const QByteArray& chunk : chunks) {
        framer.append(chunk);
        for (int length; (length = framer.pendingPacketLength()) != 0;) {
            if (length < 0) return false;
            packets << framer.take(length);
        }
    }
    return true;
}
}  // namespace

TEST(PacketFramer, CutsPacketsWhateverTheChunking) {
    const QByteArray a = frame(0x0001, "DEV-0001", 1, QByteArray(304, 'a'));
    const QByteArray b = frame(0x0002, "DEV-0001", 2, QByteArray());
    const QByteArray c = frame(0x0007, "DEV-0001", 3, QByteArray(1400, 'c'));
    const QByteArray stream = a + b + c;

    for (int chunkSize : {1, 2, 7, 40, 41, 42, 100, 1000, stream.size()}) {
        QList<QByteArray> chunks;
        for (int at = 0; at < stream.size(); at += chunkSize) chunks << stream.mid(at, chunkSize);
        PacketFramer framer;
        QList<QByteArray> packets;
        ASSERT_TRUE(cut(chunks, packets, framer)) << chunkSize;
        EXPECT_EQ(packets, (QList<QByteArray>{a, b, c})) << chunkSize;
        EXPECT_TRUE(framer.buffer().isEmpty()) << chunkSize;
    }
}

TEST(PacketFramer, ExaminesTheHeaderOnlyBeyond40Bytes) {
    PacketFramer framer;
    framer.append(rawHeader(0x00, 0x00, 0, 9999));
    EXPECT_EQ(framer.pendingPacketLength(), 0);  // 40 bytes: not examined
    framer.append(QByteArray(1, '\0'));
    EXPECT_EQ(framer.pendingPacketLength(), -1);

    PacketFramer valid;
    valid.append(frame(0x0001, "DEV-0001", 1, QByteArray()).left(41));
    EXPECT_EQ(valid.pendingPacketLength(), 0);  // a sound header waits for the rest
}

TEST(PacketFramer, HeaderRules) {
    struct Case {
        QByteArray header;
        int expected;
    };
    const Case cases[] = {
        {rawHeader(0x5A, 0xA5, 0, 0), -1},      {rawHeader(0x5A, 0xA5, 8, 0), -1},
        {rawHeader(0x5A, 0xA5, 0xFFFF, 0), -1}, {rawHeader(0x5A, 0xA5, 1, 1401), -1},
        {rawHeader(0x5B, 0xA5, 1, 0), -1},      {rawHeader(0x5A, 0xA4, 1, 0), -1},
        {rawHeader(0x5A, 0xA5, 1, 0), 42},      {rawHeader(0x5A, 0xA5, 7, 0), 42},
        {rawHeader(0x5A, 0xA5, 5, 1400), 0},
    };
    for (const Case& c : cases) {
        PacketFramer framer;
        framer.append(c.header + QByteArray(2, '\0'));
        EXPECT_EQ(framer.pendingPacketLength(), c.expected) << c.header.left(4).toHex().data();
    }
    PacketFramer longest;
    longest.append(rawHeader(0x5A, 0xA5, 5, 1400) + QByteArray(1402, '\0'));
    EXPECT_EQ(longest.pendingPacketLength(), 1442);
}
