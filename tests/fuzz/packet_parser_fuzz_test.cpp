// Arbitrary bytes through DataParse and every body parser; a packet that parses must rebuild
// byte for byte with DataPack.
#include <cstdlib>
#include <cstring>

#include <QByteArray>

#include "codec/SocketPacketHandler.h"
#include "tests/fuzz/FuzzQuiet.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceQtMessages();
    return 0;
}

namespace {
void parseBodies(const SocketPacketHandler& handler, const QByteArray& body) {
    DeviceReport report;
    for (bool extended : {false, true}) handler.ParseDeviceReport(body, extended, report);
    int progress = 0;
    handler.ParseUpgradeProgress(body, progress);
    CmdResultData result;
    handler.ParseCmdResult(body, result);
    DeviceFileData file;
    if (handler.ParseDeviceFile(body, file) == 0 &&
        file.data.size() != body.size() - SocketPacketHandler::kDeviceFileHeadSize)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SocketPacketHandler handler;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    parseBodies(handler, bytes);

    SocketPacket packet;
    if (handler.DataParse(bytes, packet) != 0) return 0;
    if (packet.data.size() != packet.dataLen) std::abort();
    parseBodies(handler, packet.data);

    if (bytes.size() == packet.dataLen + SocketPacketHandler::kMinPacketSize) {
        QByteArray rebuilt;
        if (handler.DataPack(packet, packet.data, rebuilt) != 0 || rebuilt != bytes) std::abort();
    }
    return 0;
}
