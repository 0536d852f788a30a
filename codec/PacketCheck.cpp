#include "codec/PacketCheck.h"

#include "codec/SocketPacketHandler.h"

PacketVerdict checkPacket(const QByteArray& packet) {
    const SocketPacketHandler codec;
    SocketPacket parsed;
    if (codec.DataParse(packet, parsed) != 0) return PacketVerdict::Invalid;
    switch (parsed.cmd) {
        case 0x0001:
        case 0x0006: {
            struDeviceInfo report;
            const int result = parsed.cmd == 0x0001
                                   ? codec.ParseDeviceReport(parsed.data, report)
                                   : codec.ParseDeviceReportEx(parsed.data, report);
            if (result != 0) return PacketVerdict::Invalid;
            return report.devSN.isEmpty() ? PacketVerdict::Valid : PacketVerdict::Identifies;
        }
        case 0x0002: {
            int progress = 0;
            return codec.ParseUpgradeProgress(parsed.data, progress) == 0 ? PacketVerdict::Valid
                                                                          : PacketVerdict::Invalid;
        }
        case 0x0004: {
            DeviceFileData chunk;
            return codec.ParseDeviceFile(parsed.data, chunk) == 0 ? PacketVerdict::Valid
                                                                  : PacketVerdict::Invalid;
        }
        default:  // command results and the commands without a body layout
            return PacketVerdict::Valid;
    }
}
