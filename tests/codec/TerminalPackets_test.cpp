#include "codec/TerminalPackets.h"

#include <array>

#include <gtest/gtest.h>

// What a terminal builds must read back through the service's parsers. (The answer parsers
// read real answers in the device message tests.)

TEST(TerminalPackets, ReportBodiesReadBackThroughTheServiceParsers) {
    DeviceReport id;
    id.devSN = QStringLiteral("SN-0123456789-ABCDEF");  // 20 bytes: cut in the standard report
    id.devType = QStringLiteral("T1");
    id.LicensePlateNumber = QStringLiteral("京A12345");
    id.PhoneNumber = QStringLiteral("13800138000");
    id.AppVersion = QStringLiteral("V5.3.0 build220711");
    id.McuVersion = QStringLiteral("M1.0");
    id.FourGVersion = QStringLiteral("G2.0");
    id.GnssVersion = QStringLiteral("N3.0");
    id.SmartModule = QStringLiteral("S4.0");
    id.Reserve = QStringLiteral("R");
    const SocketPacketHandler handler;
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "standard");
        const QByteArray body = TerminalPackets::reportBody(id, extended);
        ASSERT_EQ(body.size(), extended ? DeviceReport::kSizeEx : DeviceReport::kSize);
        DeviceReport out;
        ASSERT_EQ(handler.ParseDeviceReport(body, extended, out), 0);
        EXPECT_EQ(out.devSN, extended ? id.devSN : id.devSN.left(16));
        EXPECT_EQ(out.devType, id.devType);
        EXPECT_EQ(out.LicensePlateNumber, id.LicensePlateNumber);
        EXPECT_EQ(out.PhoneNumber, id.PhoneNumber);
        EXPECT_EQ(out.AppVersion, id.AppVersion);
        EXPECT_EQ(out.McuVersion, id.McuVersion);
        EXPECT_EQ(out.FourGVersion, id.FourGVersion);
        EXPECT_EQ(out.GnssVersion, id.GnssVersion);
        EXPECT_EQ(out.SmartModule, id.SmartModule);
        EXPECT_EQ(out.Reserve, id.Reserve);
    }
}

TEST(TerminalPackets, LargestFileChunkFramesAndReadsBack) {
    const SocketPacketHandler handler;
    const QByteArray data(TerminalPackets::kMaxChunkData, 'd');
    const QByteArray body = TerminalPackets::fileChunkBody(3, "print.txt", 4, 5, 6, 7, data);
    SocketPacket packet;
    ASSERT_EQ(handler.DataParse(TerminalPackets::frame(0x0004, "DEV-9", 65535, body), packet), 0);
    EXPECT_EQ(packet.cmd, 0x0004);
    EXPECT_EQ(SocketPacketHandler::FieldBytes(packet.devId, 32), "DEV-9");
    EXPECT_EQ(packet.serialNo, 65535);
    EXPECT_EQ(packet.dataLen, SocketPacketHandler::kMaxDataLen);

    DeviceFileData chunk;
    ASSERT_EQ(handler.ParseDeviceFile(packet.data, chunk), 0);
    EXPECT_EQ(chunk.type, 3u);
    EXPECT_EQ(chunk.fileName, "print.txt");
    EXPECT_EQ(
        (std::array<quint32, 4>{chunk.counter1, chunk.counter2, chunk.counter3, chunk.counter4}),
        (std::array<quint32, 4>{4, 5, 6, 7}));
    EXPECT_EQ(chunk.data, data);
}
