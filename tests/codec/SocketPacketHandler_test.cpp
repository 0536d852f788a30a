#include "codec/SocketPacketHandler.h"

#include <cstring>

#include <gtest/gtest.h>
#include <QTextCodec>
#include <QtEndian>

#include "codec/TerminalPackets.h"
#include "tests/codec/RawHeader.h"
#include "tests/support/MessageCapture.h"

namespace {
using TerminalPackets::field;
using TerminalPackets::frame;
const SocketPacketHandler handler;

quint16 u16At(const QByteArray& bytes, int offset) {
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

QByteArray u32(quint32 value) {
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

QByteArray gbk(const QString& text) {
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

// The ten fields of a report; the serial number is `snSize` wide.
QByteArray reportBody(const QByteArray& sn, int snSize) {
    return field(sn, snSize) + field("T1", 64) + field(gbk(QStringLiteral("京A12345")), 16) +
           field("13800138000", 16) + field("V5.3.0 build220711", 32) + field("M1.0", 32) +
           field("G2.0", 32) + field("N3.0", 32) + field("S4.0", 32) + field("R", 32);
}
}  // namespace

TEST(CheckCode, MatchesXmodemCheckValues) {
    EXPECT_EQ(SocketPacketHandler::CheckCode("123456789", 9), 0x31C3);
    EXPECT_EQ(SocketPacketHandler::CheckCode(QByteArray(16, '\0').constData(), 16), 0);
    EXPECT_EQ(SocketPacketHandler::CheckCode("", 0), 0);
    // Eight bytes a step, the rest one by one: every length and offset agrees with the
    // polynomial worked bit by bit.
    QByteArray bytes(80, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 37 + 11);
    for (int from = 0; from < 8; ++from)
        for (int length = 0; from + length <= bytes.size(); ++length) {
            quint16 crc = 0;
            for (int i = from; i < from + length; ++i) {
                crc ^= static_cast<quint16>(static_cast<quint8>(bytes[i]) << 8);
                for (int bit = 0; bit < 8; ++bit)
                    crc = static_cast<quint16>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
            }
            ASSERT_EQ(SocketPacketHandler::CheckCode(bytes.constData() + from, length), crc)
                << from << '+' << length;
        }
}

TEST(DataParse, EmptyBodyPacketIs42BytesAndRoundTrips) {
    const QByteArray packet = frame(0x0002, "ABC", 0x1234, QByteArray());
    ASSERT_EQ(packet.size(), 42);
    EXPECT_EQ(u16At(packet, 40), SocketPacketHandler::CheckCode(packet.constData() + 2, 38));

    SocketPacket out;
    ASSERT_EQ(handler.DataParse(packet, out), 0);
    EXPECT_EQ(out.head0, 0x5A);
    EXPECT_EQ(out.head1, 0xA5);
    EXPECT_EQ(out.cmd, 0x0002);
    EXPECT_EQ(QByteArray(out.devId, 32), field("ABC", 32));
    EXPECT_EQ(out.serialNo, 0x1234);
    EXPECT_EQ(out.dataLen, 0);
    EXPECT_TRUE(out.data.isEmpty());
    EXPECT_EQ(out.checkCode, u16At(packet, 40));
}

TEST(DataParse, EveryChangedByteIsCaught) {
    const QByteArray packet = frame(0x0001, "DEV-0001", 7, "\x01\x02\x03\x04");
    for (int i = 0; i < packet.size(); ++i) {
        for (quint8 mask : {0x01, 0x80, 0xFF}) {
            QByteArray changed = packet;
            changed[i] = static_cast<char>(changed[i] ^ mask);
            MessageCapture capture;
            SocketPacket out;
            ASSERT_EQ(handler.DataParse(changed, out), -1) << "offset " << i;
            if (i < 2) {
                EXPECT_TRUE(capture.contains("data header error!")) << "offset " << i;
            } else if ((i == 38 || i == 39) && out.dataLen > 4) {
                // A length beyond the buffer is refused before anything is read from there.
                EXPECT_TRUE(capture.contains("total data length error!")) << "offset " << i;
            } else {
                EXPECT_TRUE(capture.contains("check code error!")) << "offset " << i;
            }
        }
    }
}

TEST(DataParse, RefusesShortBuffersAndWrongMagic) {
    struct Case {
        QByteArray bytes;
        const char* message;
    };
    QByteArray secondMagicWrong = frame(0x0002, "DEV-0001", 1, QByteArray());
    secondMagicWrong[1] = 0x00;
    const QByteArray lengthBeyondEnd = rawHeader(0x5A, 0xA5, 1, 100) + QByteArray(2, '\0');
    const Case cases[] = {
        {frame(0x0002, "DEV-0001", 1, QByteArray()).left(41), "total data length error!"},
        {QByteArray(), "total data length error!"},
        {secondMagicWrong, "data header error!"},
        {lengthBeyondEnd, "total data length error!"},
    };
    for (const Case& c : cases) {
        MessageCapture capture;
        SocketPacket out;
        EXPECT_EQ(handler.DataParse(c.bytes, out), -1) << c.message;
        EXPECT_TRUE(capture.contains(c.message)) << c.message;
    }
}

TEST(DataPack, WritesHeaderBodyAndCheckCode) {
    SocketPacket header;
    header.cmd = 0x0004;
    std::memcpy(header.devId, "0123456789abcdef0123456789abcdef", 32);
    header.serialNo = 9;
    header.dataLen = 4;
    QByteArray out = "old";
    ASSERT_EQ(handler.DataPack(header, "\xDE\xAD\xBE\xEF", out), 0);
    ASSERT_EQ(out.size(), 46);
    EXPECT_EQ(out.left(4), QByteArray("\x5A\xA5\x00\x04", 4));
    EXPECT_EQ(out.mid(4, 32), QByteArray("0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(u16At(out, 36), 9);
    EXPECT_EQ(u16At(out, 38), 4);
    EXPECT_EQ(out.mid(40, 4), QByteArray("\xDE\xAD\xBE\xEF"));
    EXPECT_EQ(u16At(out, 44), SocketPacketHandler::CheckCode(out.constData() + 2, 42));
}

TEST(DataPack, LengthMismatchLeavesOutputUntouched) {
    SocketPacket header;
    header.dataLen = 5;
    QByteArray out = "keep";
    MessageCapture capture;
    EXPECT_EQ(handler.DataPack(header, "1234", out), -1);
    EXPECT_EQ(out, QByteArray("keep"));
    EXPECT_TRUE(capture.contains("data length does not match!"));
}

TEST(ParseDeviceReport, FillsTheTenFields) {
    DeviceReport out;
    ASSERT_EQ(handler.ParseDeviceReport(reportBody("SN0001", 16) + "ignored", false, out), 0);
    EXPECT_EQ(out.devSN, "SN0001");
    EXPECT_EQ(out.devType, "T1");
    EXPECT_EQ(out.LicensePlateNumber, QStringLiteral("京A12345"));
    EXPECT_EQ(out.PhoneNumber, "13800138000");
    EXPECT_EQ(out.AppVersion, "V5.3.0 build220711");
    EXPECT_EQ(out.McuVersion, "M1.0");
    EXPECT_EQ(out.FourGVersion, "G2.0");
    EXPECT_EQ(out.GnssVersion, "N3.0");
    EXPECT_EQ(out.SmartModule, "S4.0");
    EXPECT_EQ(out.Reserve, "R");
}

TEST(ParseDeviceReport, FieldWithoutNulKeepsAllItsCharacters) {
    DeviceReport out;
    ASSERT_EQ(handler.ParseDeviceReport(reportBody("ABCDEFGHIJKLMNOPQRST", 16), false, out), 0);
    EXPECT_EQ(out.devSN, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(out.devType, "T1");  // the next field is not swallowed
}

TEST(ParseDeviceReport, ShortBodiesFail) {
    struct Case {
        bool extended;
        int size;
    };
    for (const Case c : {Case{false, 303}, Case{false, 0}, Case{true, 319}, Case{true, 304}}) {
        MessageCapture capture;
        DeviceReport out;
        out.devSN = "stale";
        EXPECT_EQ(handler.ParseDeviceReport(QByteArray(c.size, 'x'), c.extended, out), -1)
            << c.size;
        EXPECT_TRUE(capture.contains("data length error!")) << c.size;
        EXPECT_TRUE(out.devSN.isEmpty()) << c.size;
    }
}

TEST(ParseDeviceReportEx, Reads32CharacterSerialNumber) {
    const QByteArray sn = "0123456789ABCDEF0123456789abcdef";
    const QByteArray body = reportBody(sn, 32);
    ASSERT_EQ(body.size(), 320);
    DeviceReport out;
    ASSERT_EQ(handler.ParseDeviceReport(body, true, out), 0);
    EXPECT_EQ(out.devSN, QString::fromLatin1(sn));
    EXPECT_EQ(out.devType, "T1");
    EXPECT_EQ(out.LicensePlateNumber, QStringLiteral("京A12345"));
    EXPECT_EQ(out.Reserve, "R");
}

TEST(ParseUpgradeProgress, ReadsPercentageAndRefusesShortBody) {
    int progress = -1;
    ASSERT_EQ(handler.ParseUpgradeProgress(u32(100), progress), 0);
    EXPECT_EQ(progress, 100);
    ASSERT_EQ(handler.ParseUpgradeProgress(u32(40) + "x", progress), 0);
    EXPECT_EQ(progress, 40);

    MessageCapture capture;
    EXPECT_EQ(handler.ParseUpgradeProgress("\x00\x00\x01", progress), -1);
    EXPECT_TRUE(capture.contains("updgrade progress:data length error!"));
}

TEST(ParseCmdResult, ReadsCodeAndTextUpToNul) {
    CmdResultData out;
    EXPECT_EQ(handler.ParseCmdResult(u32(0) + QByteArray("set ok\0junk", 11), out), 0);
    EXPECT_EQ(out.resultCode, 0u);
    EXPECT_EQ(out.text, "set ok");
    EXPECT_EQ(handler.ParseCmdResult(u32(2), out), 0);
    EXPECT_EQ(out.resultCode, 2u);
    EXPECT_TRUE(out.text.isEmpty());
    // Too short to carry a code: must not pass for a success.
    EXPECT_EQ(handler.ParseCmdResult("\x00\x00", out), 0);
    EXPECT_NE(out.resultCode, 0u);
}

TEST(ParseDeviceFile, ReadsHeaderAndChunk) {
    const QByteArray head = u32(2) + field("index.dat", 32) + u32(1) + u32(3) + u32(1) + u32(1);
    ASSERT_EQ(head.size(), 52);
    DeviceFileData out;
    ASSERT_EQ(handler.ParseDeviceFile(head, out), 0);
    EXPECT_EQ(out.type, 2u);
    EXPECT_EQ(out.fileName, "index.dat");
    EXPECT_EQ(out.counter1, 1u);
    EXPECT_EQ(out.counter2, 3u);
    EXPECT_EQ(out.counter3, 1u);
    EXPECT_EQ(out.counter4, 1u);
    EXPECT_TRUE(out.data.isEmpty());

    const QByteArray chunk(1348, '\x7F');
    ASSERT_EQ(handler.ParseDeviceFile(head + chunk, out), 0);
    EXPECT_EQ(out.data, chunk);

    MessageCapture capture;
    EXPECT_EQ(handler.ParseDeviceFile(head.left(51), out), -1);
    EXPECT_TRUE(capture.contains("device file:data length error!"));
}

TEST(PackUpgradeFlag, PadsAndTruncatesTheUrl) {
    struct Case {
        quint32 flag;
        QString url;
        QByteArray expectedUrlField;
    };
    const QString url20 = "http://1.2.3.4:80/ab";
    const QString url200 = "http://h/" + QString(191, 'x');
    const Case cases[] = {
        {1, url20, url20.toLatin1() + QByteArray(108, '\0')},
        {1, url200, url200.toLatin1().left(128)},
        {0, QString(), QByteArray(128, '\0')},
    };
    for (const Case& c : cases) {
        QByteArray out = "old";
        EXPECT_EQ(handler.PackUpgradeFlag({c.flag, c.url}, out), 0);
        ASSERT_EQ(out.size(), 132) << c.url.toStdString();
        EXPECT_EQ(out.left(4), u32(c.flag));
        EXPECT_EQ(out.mid(4), c.expectedUrlField) << c.url.toStdString();
    }
}

TEST(PackOtherBodies, EmptyCommandAndFileRequest) {
    QByteArray out = "old";
    EXPECT_EQ(handler.PackEmpty(out), 0);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(handler.PackConfigCmd(QStringLiteral("set apn=中国"), out), 0);
    EXPECT_EQ(out, QStringLiteral("set apn=中国").toUtf8());
    EXPECT_EQ(handler.PackGetFile(3, out), 0);
    EXPECT_EQ(out, u32(3));
}

TEST(AnswerHeader, SerialNumberRule) {
    EXPECT_EQ(SocketPacketHandler::NextSerialNo(65535), 1);
    EXPECT_EQ(SocketPacketHandler::NextSerialNo(7), 8);
    EXPECT_EQ(SocketPacketHandler::NextSerialNo(0), 1);

    SocketPacket received;
    ASSERT_EQ(handler.DataParse(frame(0x0006, "DEV-42", 7, QByteArray(3, 'x')), received), 0);
    const SocketPacket upgrade =
        SocketPacketHandler::AnswerHeader(received, Command::UpgradeAnswer, 132);
    EXPECT_EQ(upgrade.serialNo, 7);
    EXPECT_EQ(upgrade.cmd, 0x0001);
    EXPECT_EQ(upgrade.dataLen, 132);
    EXPECT_EQ(QByteArray(upgrade.devId, 32), field("DEV-42", 32));
    for (Command answer : {Command::ProgressPoll, Command::Command, Command::FileRequest})
        EXPECT_EQ(SocketPacketHandler::AnswerHeader(received, answer, 0).serialNo, 8)
            << code(answer);

    received.serialNo = 65535;
    EXPECT_EQ(SocketPacketHandler::AnswerHeader(received, Command::ProgressPoll, 0).serialNo, 1);
}
