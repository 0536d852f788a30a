// The terminal simulator against a scripted fake service: each protocol fault ends it with a
// non-zero exit and a line that names the fault.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include "codec/PacketFramer.h"
#include "codec/SocketPacketHandler.h"
#include "tests/support/ServiceProcess.h"

namespace {

// The answer the fake service gives to a report: the received header in, bytes out.
using Answer = std::function<QByteArray(const SocketPacket& report)>;

QByteArray pack(const SocketPacket& received, Command cmd, const QByteArray& body) {
    QByteArray out;
    SocketPacketHandler().DataPack(
        SocketPacketHandler::AnswerHeader(received, cmd, static_cast<quint16>(body.size())), body,
        out);
    return out;
}

QByteArray upgradeBody(quint32 flag) {
    UpgradeFlagData data;
    data.flag = flag;
    data.url = flag ? "http://127.0.0.1:1/KORVA/dlPackage/x.bin" : "";
    QByteArray body;
    SocketPacketHandler().PackUpgradeFlag(data, body);
    return body;
}

struct FaultCase {
    const char* name;
    Answer answer;
    QStringList extraArgs;
    const char* expectedLine;
};

TEST(TerminalSimulatorTest, ProtocolFaultsEndWithNonZeroExit) {
    const FaultCase cases[] = {
        {"bad check code",
         [](const SocketPacket& r) {
             QByteArray p = pack(r, Command::UpgradeAnswer, upgradeBody(0));
             p[p.size() - 1] = static_cast<char>(p[p.size() - 1] ^ 0xFF);
             return p;
         },
         {},
         "FAULT: answer with a bad check code"},
        {"unexpected command",
         [](const SocketPacket& r) { return pack(r, Command::Unused5, QByteArray()); },
         {},
         "FAULT: unexpected command 0x0005"},
        {"poll outside an upgrade",
         [](const SocketPacket& r) { return pack(r, Command::ProgressPoll, QByteArray()); },
         {},
         "FAULT: unexpected progress poll"},
        {"no answer",
         [](const SocketPacket&) { return QByteArray(); },
         {"--timeout", "300"},
         "FAULT: time-out"},
        {"foreign device ID",
         [](const SocketPacket& r) {
             SocketPacket other = r;
             std::memset(other.devId, 0, sizeof other.devId);
             std::memcpy(other.devId, "OTHER", 5);
             return pack(other, Command::UpgradeAnswer, upgradeBody(0));
         },
         {},
         "FAULT: answer carries another device ID"},
        {"upgrade where none is expected",
         [](const SocketPacket& r) { return pack(r, Command::UpgradeAnswer, upgradeBody(1)); },
         {"--expect", "none"},
         "FAULT: upgrade answered where none was expected"},
        {"no upgrade where one is expected",
         [](const SocketPacket& r) { return pack(r, Command::UpgradeAnswer, upgradeBody(0)); },
         {"--expect", "upgrade"},
         "FAULT: no upgrade answered where one was expected"},
        {"file request without a file",
         [](const SocketPacket& r) {
             QByteArray body;
             SocketPacketHandler().PackGetFile(3, body);
             return pack(r, Command::FileRequest, body);
         },
         {},
         "FAULT: no file given for type 3"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            auto framer = std::make_shared<PacketFramer>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
                framer->append(socket->readAll());
                const int length = framer->pendingPacketLength();
                if (length <= 0) return;
                SocketPacket report;
                ASSERT_EQ(SocketPacketHandler().DataParse(framer->take(length), report), 0);
                socket->write(c.answer(report));
            });
        });
        QProcess terminal;
        terminal.setProcessChannelMode(QProcess::MergedChannels);
        terminal.start(QStringLiteral(WAYFARER_TERMINAL),
                       QStringList{"--port", QString::number(server.serverPort()), "--sn", "SIM1",
                                   "--timeout", "5000"}
                           << c.extraArgs);
        ASSERT_TRUE(waitUntil([&] { return terminal.state() == QProcess::NotRunning; }, 15000));
        const QString output = QString::fromUtf8(terminal.readAll());
        EXPECT_EQ(terminal.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(terminal.exitCode(), 1) << output.toStdString();
        EXPECT_TRUE(output.contains(c.expectedLine)) << output.toStdString();
        EXPECT_TRUE(output.contains("summary: 1 terminals, 1 failed"));
    }
}

TEST(TerminalSimulatorTest, FileChunksCarryCountersAndAtMost1348Bytes) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QList<DeviceFileData> chunks;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        auto framer = std::make_shared<PacketFramer>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, &chunks] {
            framer->append(socket->readAll());
            for (int length; (length = framer->pendingPacketLength()) > 0;) {
                SocketPacket packet;
                ASSERT_EQ(SocketPacketHandler().DataParse(framer->take(length), packet), 0);
                if (packet.cmd == 0x0001) {
                    QByteArray body;
                    SocketPacketHandler().PackGetFile(4, body);
                    socket->write(pack(packet, Command::FileRequest, body));
                } else if (packet.cmd == 0x0004) {
                    DeviceFileData chunk;
                    ASSERT_EQ(SocketPacketHandler().ParseDeviceFile(packet.data, chunk), 0);
                    chunks.append(chunk);
                }
            }
        });
    });
    QTemporaryDir dir;
    QFile file(dir.filePath("run.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray content(1348 * 2 + 1, 'r');
    file.write(content);
    file.close();

    QProcess terminal;
    terminal.setProcessChannelMode(QProcess::MergedChannels);
    terminal.start(QStringLiteral(WAYFARER_TERMINAL),
                   {"--port", QString::number(server.serverPort()), "--sn", "SIM2", "--file",
                    "4=" + file.fileName(), "--settle", "200"});
    ASSERT_TRUE(waitUntil([&] { return terminal.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(terminal.exitCode(), 0) << terminal.readAll().constData();
    ASSERT_EQ(chunks.size(), 3);
    QByteArray joined;
    for (int i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, 4u);
        EXPECT_EQ(chunks[i].fileName, "run.bin");
        EXPECT_EQ(chunks[i].counter1, static_cast<quint32>(i + 1));
        EXPECT_EQ(chunks[i].counter2, 3u);
        EXPECT_EQ(chunks[i].counter3, 1u);
        EXPECT_EQ(chunks[i].counter4, 1u);
        EXPECT_LE(chunks[i].data.size(), 1348);
        joined += chunks[i].data;
    }
    EXPECT_EQ(joined, content);
}

}  // namespace
