#include "codec/PacketCheck.h"

#include "codec/SocketPacketHandler.h"

PacketVerdict checkPacket(const QByteArray& packet) {
    const SocketPacketHandler codec;
    SocketPacket parsed;
    if (codec.DataParse(packet, parsed) != 0) return PacketVerdict::Invalid;
    switch (static_cast<Command>(parsed.cmd)) {
        case Command::Report:
        case Command::ReportEx: {
            DeviceReport report;
            const bool extended = parsed.cmd == code(Command::ReportEx);
            if (codec.ParseDeviceReport(parsed.data, extended, report) != 0)
                return PacketVerdict::Invalid;
            return report.devSN.isEmpty() ? PacketVerdict::Valid : PacketVerdict::Identifies;
        }
        case Command::Progress: {
            int progress = 0;
            return codec.ParseUpgradeProgress(parsed.data, progress) == 0 ? PacketVerdict::Valid
                                                                          : PacketVerdict::Invalid;
        }
        case Command::File: {
            DeviceFileData chunk;
            return codec.ParseDeviceFile(parsed.data, chunk) == 0 ? PacketVerdict::Valid
                                                                  : PacketVerdict::Invalid;
        }
        default:  // command results and the commands without a body layout
            return PacketVerdict::Valid;
    }
}
