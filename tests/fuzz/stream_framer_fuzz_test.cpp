// Arbitrary bytes in arbitrary chunks through the stream framer. Every packet cut must obey
// the header rules, and the cut must not depend on how the stream was chunked.
#include <cstdlib>

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include "codec/PacketFramer.h"
#include "codec/SocketPacketHandler.h"
#include "tests/fuzz/FuzzQuiet.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceQtMessages();
    return 0;
}

namespace {
// Feeds the chunks; returns the packets cut before the stream was refused (if it was).
QList<QByteArray> cut(const QList<QByteArray>& chunks, bool& refused) {
    PacketFramer framer;
    QList<QByteArray> packets;
    refused = false;
    for (const QByteArray& chunk : chunks) {
        framer.append(chunk);
        for (int length; (length = framer.pendingPacketLength()) != 0;) {
            if (length < 0) {
                refused = true;
                return packets;
            }
            if (length > framer.buffer().size()) std::abort();
            packets << framer.take(length);
        }
    }
    if (framer.buffer().size() > SocketPacketHandler::kMaxDataLen + 41) std::abort();
    return packets;
}

void checkPacket(const QByteArray& packet) {
    const char* p = packet.constData();
    const quint16 cmd = qFromBigEndian<quint16>(p + 2);
    const quint16 dataLen = qFromBigEndian<quint16>(p + 38);
    if (static_cast<quint8>(p[0]) != 0x5A || static_cast<quint8>(p[1]) != 0xA5 ||
        cmd < kFirstCommand || cmd > kLastCommand || dataLen > 1400 ||
        packet.size() != dataLen + 42)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte chooses the chunk size, the rest is the stream.
    const int chunkSize = data[0] + 1;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));

    QList<QByteArray> chunks;
    for (int at = 0; at < stream.size(); at += chunkSize) chunks << stream.mid(at, chunkSize);
    bool refusedChunked = false;
    const QList<QByteArray> chunked = cut(chunks, refusedChunked);
    bool refusedWhole = false;
    const QList<QByteArray> whole = cut({stream}, refusedWhole);

    if (chunked != whole || refusedChunked != refusedWhole) std::abort();
    QByteArray joined;
    for (const QByteArray& packet : chunked) {
        checkPacket(packet);
        joined += packet;
    }
    if (!stream.startsWith(joined)) std::abort();
    return 0;
}
