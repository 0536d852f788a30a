// The real service against raw terminal connections that are not what they claim: another
// terminal's serial number, files nobody asked for, names that would leave their directory, and
// results that must not undo an operator's edits.
#include <QDirIterator>
#include <QtEndian>

#include "tests/support/TerminalConnection.h"
#include "tests/support/WebServiceFixture.h"

namespace {

// A terminal of type T1 on its own connection, with the file chunks it may send.
class Link : public TerminalConnection {
  public:
    using TerminalConnection::report;
    using TerminalConnection::TerminalConnection;
    bool report(const QString& devSN, const QString& plate = "A-1") {
        DeviceReport id;
        id.devSN = devSN;
        id.devType = "T1";
        id.LicensePlateNumber = plate;
        id.AppVersion = "V5.3.0 build220711";
        return report(id);
    }
    bool chunk(quint32 type, const QByteArray& name, quint32 c1, quint32 c2,
               const QByteArray& data) {
        return send(0x0004, TerminalPackets::fileChunkBody(type, name, c1, c2, 1, 1, data));
    }
};

quint32 u32(const SocketPacket& packet) {
    return packet.data.size() < 4 ? 99u : qFromBigEndian<quint32>(packet.data.constData());
}

class TerminalTrustTest : public ::testing::Test {
  protected:
    void start() {
        ASSERT_TRUE(m_service.start()) << m_service.output().constData();
        m_db = std::make_unique<ServiceDb>(m_service.path("WFS.db"));
    }
    QVariant column(const QString& sn, const QString& name) {
        return m_db->value(
            QStringLiteral("select %1 from Tab_DeviceInfo where devSN='%2'").arg(name, sn));
    }
    bool columnBecomes(const QString& sn, const QString& name, const QVariant& value) {
        return waitUntil([&] { return column(sn, name) == value; }, 5000);
    }
    // Stored files by name under a directory of the application directory.
    QStringList files(const QString& dir, const QString& name) {
        QStringList out;
        for (QDirIterator it(m_service.path(dir), {name}, QDir::Files | QDir::Hidden,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            out << it.next();
        return out;
    }

    ServiceProcess m_service;
    std::unique_ptr<ServiceDb> m_db;
};

TEST_F(TerminalTrustTest, SerialNumberPinnedToItsDeviceIdUntilReleased) {
    start();
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DeviceInfo(devSN,devType,ConfigCmd,GetLogFile) "
                   "values('IT-PIN','T1','set apn=x',1)"));
    Link real(m_service.tcpPort(), "REAL-ID");
    ASSERT_TRUE(real.connected());
    ASSERT_TRUE(real.report("IT-PIN", "A-1"));
    EXPECT_EQ(real.next().cmd, 0x0003);
    EXPECT_EQ(real.next().cmd, 0x0004);
    EXPECT_TRUE(columnBecomes("IT-PIN", "devId", "REAL-ID"));

    // Another connection with the serial number and its own device ID is answered as a stranger
    // and can neither confirm, upload, finish nor rewrite anything.
    Link impostor(m_service.tcpPort(), "FAKE-ID");
    ASSERT_TRUE(impostor.connected());
    ASSERT_TRUE(impostor.report("IT-PIN", "B-2"));
    const SocketPacket answer = impostor.next();
    EXPECT_EQ(answer.cmd, 0x0001);
    EXPECT_EQ(u32(answer), 0u);
    ASSERT_TRUE(impostor.send(0x0003, TerminalPackets::cmdResultBody(0, "ok")));
    ASSERT_TRUE(impostor.chunk(1, "forged.log", 1, 1, "forged"));
    ASSERT_TRUE(impostor.send(0x0002, TerminalPackets::progressBody(100)));
    ASSERT_TRUE(impostor.send(0x0002, TerminalPackets::progressBody(40)));
    EXPECT_TRUE(impostor.silent());
    const QString warning = QStringLiteral(
                                "IT-PIN is pinned to device ID REAL-ID; refused device "
                                "ID FAKE-ID from 127.0.0.1:%1")
                                .arg(impostor.localPort());
    EXPECT_TRUE(QString::fromUtf8(m_service.output()).contains(warning));
    EXPECT_EQ(column("IT-PIN", "ConfigCmd").toString(), "set apn=x");
    EXPECT_EQ(column("IT-PIN", "GetLogFile").toInt(), 1);
    EXPECT_EQ(column("IT-PIN", "LicensePlateNumber").toString(), "A-1");
    EXPECT_EQ(column("IT-PIN", "UpgradeCompletionTime").toInt(), 0);
    EXPECT_TRUE(files("DevLog", "forged.log").isEmpty());

    // The real terminal was not pushed out: its own confirmation still counts.
    ASSERT_TRUE(real.send(0x0003, TerminalPackets::cmdResultBody(0, "ok")));
    EXPECT_TRUE(columnBecomes("IT-PIN", "ConfigCmd", ""));

    // A replaced unit is let in once the operator releases the pin.
    const quint16 http = m_service.httpPort();
    EXPECT_EQ(httpRequest(http, "DELETE", "/KORVA/v2/devices/IT-NONE/pin").status, 404);
    EXPECT_EQ(httpRequest(http, "DELETE", "/KORVA/v2/devices/IT-PIN/pin").status, 204);
    ASSERT_TRUE(impostor.report("IT-PIN", "B-2"));
    const SocketPacket request = impostor.next();
    EXPECT_EQ(request.cmd, 0x0004);
    EXPECT_TRUE(columnBecomes("IT-PIN", "devId", "FAKE-ID"));
    EXPECT_EQ(column("IT-PIN", "LicensePlateNumber").toString(), "B-2");
}

TEST_F(TerminalTrustTest, FilesStoredOnlyWhenRequestedAndUnderSafeNames) {
    start();
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DeviceInfo(devSN,devType,GetLogFile) "
                   "values('../IT-UP','T1',1)"));
    // A serial number and a file name that would leave their directories are stored as a safe
    // form of themselves; a type nobody asked for is not stored at all.
    Link up(m_service.tcpPort(), "UP-ID");
    ASSERT_TRUE(up.report("../IT-UP"));
    const SocketPacket request = up.next();
    ASSERT_EQ(request.cmd, 0x0004);
    EXPECT_EQ(u32(request), 1u);
    ASSERT_TRUE(up.chunk(2, "idx.bin", 1, 1, "unasked"));
    ASSERT_TRUE(up.chunk(1, "../trip.log", 1, 2, "first "));
    ASSERT_TRUE(up.chunk(1, "../trip.log", 2, 2, "second"));
    EXPECT_TRUE(columnBecomes("../IT-UP", "GetLogFile", 0));
    const QStringList stored = files("DevLog", "..%2Ftrip.log");
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(stored[0].startsWith(m_service.path("DevLog/..%2FIT-UP/")));
    EXPECT_EQ(readFile(stored[0]), "first second");
    EXPECT_TRUE(files("", "idx.bin").isEmpty());
    EXPECT_TRUE(files("", "trip.log").isEmpty());
}

TEST_F(TerminalTrustTest, TerminalResultsKeepTheOperatorsEditsMadeMeanwhile) {
    start();
    const QString packagePath = m_service.path("Package/T1/pkg.bin");
    writeFile(packagePath, "package");
    ASSERT_TRUE(m_db->exec(QStringLiteral("insert into Tab_Package(packageName,AppVersion,"
                                          "packagePath,deviceType,size) values('pkg.bin',"
                                          "'V5.3.0 build220711','%1','T1',7)")
                               .arg(packagePath)));
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DeviceInfo(devSN,devType,isAutoUpdate) "
                   "values('IT-EDIT','T1',1)"));
    Link terminal(m_service.tcpPort(), "EDIT-ID");
    ASSERT_TRUE(terminal.report("IT-EDIT"));
    EXPECT_EQ(u32(terminal.next()), 1u);  // the forced upgrade
    EXPECT_EQ(terminal.next().cmd, 0x0002);

    // While it upgrades the operator queues a command and a file.
    ASSERT_TRUE(m_db->exec(
        "update Tab_DeviceInfo set ConfigCmd='reboot',GetPrintFile=1 where devSN='IT-EDIT'"));
    ASSERT_TRUE(terminal.send(0x0002, TerminalPackets::progressBody(100)));
    ASSERT_TRUE(
        waitUntil([&] { return column("IT-EDIT", "UpgradeCompletionTime").toInt() > 0; }, 5000));
    EXPECT_EQ(column("IT-EDIT", "isAutoUpdate").toInt(), 0);
    EXPECT_EQ(column("IT-EDIT", "ConfigCmd").toString(), "reboot");
    EXPECT_EQ(column("IT-EDIT", "GetPrintFile").toInt(), 1);

    ASSERT_TRUE(terminal.report("IT-EDIT"));
    const SocketPacket command = terminal.next();
    EXPECT_EQ(command.cmd, 0x0003);
    EXPECT_EQ(command.data, "reboot");
    EXPECT_EQ(u32(terminal.next()), 3u);
    // The operator replaces the command and asks for the log before the results come in.
    ASSERT_TRUE(m_db->exec(
        "update Tab_DeviceInfo set ConfigCmd='set apn=y',GetLogFile=1 where devSN='IT-EDIT'"));
    ASSERT_TRUE(terminal.send(0x0003, TerminalPackets::cmdResultBody(0, "ok")));
    ASSERT_TRUE(terminal.chunk(3, "print.txt", 1, 1, "printed"));
    EXPECT_TRUE(columnBecomes("IT-EDIT", "GetPrintFile", 0));
    EXPECT_EQ(column("IT-EDIT", "ConfigCmd").toString(), "set apn=y");
    EXPECT_EQ(column("IT-EDIT", "GetLogFile").toInt(), 1);
}

}  // namespace
