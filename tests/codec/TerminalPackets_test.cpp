#include "codec/TerminalPackets.h"

#include <array>

#include <gtest/gtest.h>

// What a terminal builds must read back through the service's parsers, and the service's
// answers through the terminal's.

TEST(TerminalPackets, ReportBodiesReadBackThroughTheServiceParsers) {
    TerminalIdentity id;
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
        ASSERT_EQ(body.size(), extended ? SocketPacketHandler::kDeviceReportExSize
                                        : SocketPacketHandler::kDeviceReportSize);
        struDeviceInfo out;
        ASSERT_EQ(extended ? handler.ParseDeviceReportEx(body, out)
                           : handler.ParseDeviceReport(body, out),
                  0);
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

TEST(TerminalPackets, OtherBodiesAndFramesReadBack) {
    const SocketPacketHandler handler;
    int progress = 0;
    ASSERT_EQ(handler.ParseUpgradeProgress(TerminalPackets::progressBody(73), progress), 0);
    EXPECT_EQ(progress, 73);

    CmdResultData result;
    ASSERT_EQ(handler.ParseCmdResult(TerminalPackets::cmdResultBody(2, "busy"), result), 0);
    EXPECT_EQ(result.resultCode, 2u);
    EXPECT_EQ(result.text, "busy");

    const QByteArray data(TerminalPackets::kMaxChunkData, 'd');
    DeviceFileData chunk;
    ASSERT_EQ(handler.ParseDeviceFile(
                  TerminalPackets::fileChunkBody(3, "print.txt", 4, 5, 6, 7, data), chunk),
              0);
    EXPECT_EQ(chunk.type, 3u);
    EXPECT_EQ(chunk.fileName, "print.txt");
    EXPECT_EQ(
        (std::array<quint32, 4>{chunk.counter1, chunk.counter2, chunk.counter3, chunk.counter4}),
        (std::array<quint32, 4>{4, 5, 6, 7}));
    EXPECT_EQ(chunk.data, data);

    // The largest chunk fills the largest body.
    const QByteArray body = TerminalPackets::fileChunkBody(1, "f", 1, 1, 1, 1, data);
    SocketPacket packet;
    ASSERT_EQ(handler.DataParse(TerminalPackets::frame(0x0004, "DEV-9", 65535, body), packet), 0);
    EXPECT_EQ(packet.cmd, 0x0004);
    EXPECT_EQ(SocketPacketHandler::FieldBytes(packet.devId, 32), "DEV-9");
    EXPECT_EQ(packet.serialNo, 65535);
    EXPECT_EQ(packet.data, body);
    EXPECT_EQ(packet.dataLen, SocketPacketHandler::kMaxDataLen);
}

TEST(TerminalPackets, AnswersFromTheServiceReadBack) {
    const SocketPacketHandler handler;
    QByteArray body;
    ASSERT_EQ(handler.PackUpgradeFlag({1, "http://10.0.0.5:8001/KORVA/dlPackage/T1/a.bin"}, body),
              0);
    quint32 flag = 0;
    QString url;
    ASSERT_TRUE(TerminalPackets::parseUpgradeAnswer(body, flag, url));
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(url, "http://10.0.0.5:8001/KORVA/dlPackage/T1/a.bin");
    EXPECT_FALSE(TerminalPackets::parseUpgradeAnswer(body.left(131), flag, url));

    ASSERT_EQ(handler.PackGetFile(4, body), 0);
    quint32 type = 0;
    ASSERT_TRUE(TerminalPackets::parseFileRequest(body, type));
    EXPECT_EQ(type, 4u);
    EXPECT_FALSE(TerminalPackets::parseFileRequest(body.left(3), type));
}
