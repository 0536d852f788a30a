// The real service driven by the terminal simulator and a raw fake terminal: upgrades with a
// resumed download, commands, file uploads and refused packets, end to end.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/TerminalConnection.h"
#include "tests/support/TerminalRun.h"

namespace {

const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

// The test's own connection to the service's WFS.db, for rows the web API would write.
class ServiceDb {
  public:
    explicit ServiceDb(const QString& file)
        : m_name(QUuid::createUuid().toString()),
          m_db(QSqlDatabase::addDatabase("QSQLITE", m_name)) {
        m_db.setDatabaseName(file);
        m_db.open();
    }
    ~ServiceDb() {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString& statement) {
        QSqlQuery query(m_db);
        const bool ok = query.exec(statement);
        if (!ok) ADD_FAILURE() << query.lastError().text().toStdString();
        return ok;
    }
    QVariant value(const QString& statement) {
        QSqlQuery query(m_db);
        if (!query.exec(statement) || !query.next()) return QVariant();
        return query.value(0);
    }

  private:
    QString m_name;
    QSqlDatabase m_db;
};

class UpgradeIntegrationTest : public ::testing::Test {
  protected:
    bool startService() {
        if (!m_service.start()) return false;
        m_db = std::make_unique<ServiceDb>(m_service.path("WFS.db"));
        return true;
    }

    // A package of `size` bytes for type T1 with the given App version.
    void addPackage(const QString& app, int size) {
        const QString path = m_service.appDir() + "/Package/T1/pkg.bin";
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray content(size, '\0');
        for (int i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 251);
        file.write(content);
        file.close();
        ASSERT_TRUE(m_db->exec(QStringLiteral("insert into Tab_Package(packageName,AppVersion,"
                                              "packagePath,size,deviceType) values('pkg.bin','%1',"
                                              "'%2',%3,'T1')")
                                   .arg(app, path)
                                   .arg(size)));
    }

    QStringList terminalArgs(const QString& sn, const QString& expect) const {
        return {"--port",    QString::number(m_service.tcpPort()),
                "--sn",      sn,
                "--type",    "T1",
                "--app",     kOld,
                "--expect",  expect,
                "--timeout", "10000"};
    }

    QVariant column(const QString& sn, const QString& name) {
        return m_db->value(
            QStringLiteral("select %1 from Tab_DeviceInfo where devSN='%2'").arg(name, sn));
    }

    // What WFSLog holds between two newcomers' lines (each a fixed line at info) with a
    // terminal's idle reports in between, at the given log level.
    QString idleReportLog(const QString& level) {
        m_service.setParam("LogLevel", level);
        if (!startService()) return "not started";
        addPackage(kNew, 1000);
        const auto newcomer = [&](const QString& sn) {
            const TerminalRun run = runTerminal(terminalArgs(sn, "none") << "--app" << kNew);
            return run.exitCode == 0 && waitUntil([&] { return wfsLog().contains(sn); });
        };
        if (!newcomer("IT-IDLE") || !newcomer("IT-MARK1")) return "no newcomer line";
        const TerminalRun idle =
            runTerminal(terminalArgs("IT-IDLE", "none") << "--app" << kNew << "--reports"
                                                        << "5");
        if (idle.exitCode != 0 || !newcomer("IT-MARK2")) return "no idle reports";
        const QString log = wfsLog();
        const int from = log.indexOf('\n', log.indexOf("IT-MARK1")) + 1;
        return log.mid(from, log.lastIndexOf('\n', log.indexOf("IT-MARK2")) - from);
    }
    QString wfsLog() {
        QString text;
        const QDir dir(m_service.path("WFSLog"));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly)) text += QString::fromUtf8(file.readAll());
        }
        return text;
    }

    ServiceProcess m_service;
    std::unique_ptr<ServiceDb> m_db;
};

TEST_F(UpgradeIntegrationTest, NewTerminalUpgradesWithResumedDownload) {
    ASSERT_TRUE(startService());
    addPackage(kNew, 300000);
    const TerminalRun run = runTerminal(terminalArgs("IT-NEW", "upgrade") << "--break-at"
                                                                          << "70000");
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("dlPackage/T1/pkg.bin")) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Range: bytes=70000-"));
    EXPECT_TRUE(run.output.contains("http 206, length 230000, total 300000"));
    EXPECT_TRUE(run.output.contains("download complete, 300000 bytes"));
    EXPECT_TRUE(run.output.contains("progress 100 sent"));
    // A first-time terminal's completion lands in its own row.
    EXPECT_TRUE(
        waitUntil([&] { return column("IT-NEW", "UpgradeCompletionTime").toInt() > 0; }, 5000));
}

TEST_F(UpgradeIntegrationTest, ManualModeAnswersNoUpgrade) {
    m_service.setParam("ManualMode", 1);
    ASSERT_TRUE(startService());
    addPackage(kNew, 1000);
    // The extended report carries a serial number longer than the standard 16 bytes.
    const QString longSN = "IT-MANUAL-EXTENDED-0123456789";
    const TerminalRun run = runTerminal(terminalArgs(longSN, "none") << "--extended");
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("(0x0006)"));
    EXPECT_TRUE(run.output.contains("flag 0, no upgrade"));
    EXPECT_EQ(column(longSN, "AppVersion").toString(), kOld);
}

TEST_F(UpgradeIntegrationTest, ForcedTerminalUpgradesWithEqualVersionsAndFlagClears) {
    ASSERT_TRUE(startService());
    addPackage(kOld, 5000);
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DeviceInfo(devSN,devType,isAutoUpdate) "
                   "values('IT-FORCE','T1',1)"));
    const TerminalRun run = runTerminal(terminalArgs("IT-FORCE", "upgrade"));
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(waitUntil([&] { return column("IT-FORCE", "isAutoUpdate").toInt() == 0; }, 5000));
    EXPECT_GT(column("IT-FORCE", "UpgradeCompletionTime").toInt(), 0);
}

TEST_F(UpgradeIntegrationTest, CommandThenFileUploadClearsTheRequests) {
    ASSERT_TRUE(startService());
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DeviceInfo(devSN,devType,ConfigCmd,GetLogFile) "
                   "values('IT-FILE','T1','set apn=x',1)"));
    QTemporaryDir local;
    const QString source = local.filePath("trip.log");
    QByteArray content;
    for (int i = 0; i < 3000; ++i) content.append(static_cast<char>('a' + i % 26));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const TerminalRun run =
        runTerminal(terminalArgs("IT-FILE", "none") << "--file" << ("1=" + source));
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const int command = run.output.indexOf("command: set apn=x");
    const int request = run.output.indexOf("file request: type 1");
    EXPECT_GE(command, 0);
    EXPECT_GT(request, command);
    EXPECT_TRUE(run.output.contains("3000 bytes in 3 chunks"));

    EXPECT_TRUE(waitUntil([&] { return column("IT-FILE", "GetLogFile").toInt() == 0; }, 5000));
    EXPECT_EQ(column("IT-FILE", "ConfigCmd").toString(), "");
    QDirIterator it(m_service.path("DevLog/IT-FILE"), {"trip.log"}, QDir::Files,
                    QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext());
    const QString stored = it.next();
    EXPECT_EQ(QFileInfo(stored).dir().dirName().size(), 12);  // yyyyMMddHHmm
    QFile file(stored);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), content);
}

TEST_F(UpgradeIntegrationTest, EmptyLastChunkAndEmptyFileAreStoredWhole) {
    ASSERT_TRUE(startService());
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DeviceInfo(devSN,devType,GetLogFile,GetIndexFile) "
                   "values('IT-EMPTY','T1',1,1)"));
    DeviceReport identity;
    identity.devSN = "IT-EMPTY";
    identity.devType = "T1";
    identity.AppVersion = kOld;
    TerminalConnection link(m_service.tcpPort(), "IT-EMPTY");
    ASSERT_TRUE(link.connected());
    const auto requested = [&link] {
        const SocketPacket packet = link.next();
        quint32 type = 0;
        return packet.cmd == 0x0004 && TerminalPackets::parseFileRequest(packet.data, type)
                   ? static_cast<int>(type)
                   : -1;
    };
    ASSERT_TRUE(link.report(identity));
    ASSERT_EQ(requested(), 1);
    // The log ends with an empty chunk; the index file is empty, sent as one chunk.
    ASSERT_TRUE(link.send(0x0004, TerminalPackets::fileChunkBody(1, "a.log", 1, 2, 1, 1, "abc")));
    ASSERT_TRUE(link.send(0x0004, TerminalPackets::fileChunkBody(1, "a.log", 2, 2, 1, 1, {})));
    ASSERT_EQ(requested(), 2);
    ASSERT_TRUE(link.send(0x0004, TerminalPackets::fileChunkBody(2, "b.idx", 1, 1, 1, 1, {})));
    EXPECT_TRUE(waitUntil([&] { return column("IT-EMPTY", "GetIndexFile").toInt() == 0; }, 5000));
    EXPECT_EQ(column("IT-EMPTY", "GetLogFile").toInt(), 0);

    // Nothing is asked again: the next report gets the plain answer.
    ASSERT_TRUE(link.report(identity));
    EXPECT_EQ(link.next().cmd, 0x0001);
    const auto stored = [&](const QString& type, const QString& name) {
        QDirIterator it(m_service.path(type + "/IT-EMPTY"), {name}, QDir::Files,
                        QDirIterator::Subdirectories);
        if (!it.hasNext()) return QByteArray("missing");
        QFile file(it.next());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    EXPECT_EQ(stored("DevLog", "a.log"), QByteArray("abc"));
    EXPECT_EQ(stored("DevIndex", "b.idx"), QByteArray());
}

TEST_F(UpgradeIntegrationTest, RefusedPacketsGetNoAnswerAndKeepTheConnection) {
    ASSERT_TRUE(startService());
    FakeTerminal terminal;
    ASSERT_TRUE(terminal.connectTo(m_service.tcpPort()));
    DeviceReport id;
    id.devSN = "IT-BAD";
    id.devType = "T1";
    QByteArray bad =
        TerminalPackets::frame(0x0001, "IT-BAD", 1, TerminalPackets::reportBody(id, false));
    bad[60] = static_cast<char>(bad[60] ^ 0x20);
    ASSERT_TRUE(terminal.write(bad));
    DeviceReport empty = id;
    empty.devSN.clear();
    ASSERT_TRUE(terminal.write(
        TerminalPackets::frame(0x0001, "IT-BAD", 2, TerminalPackets::reportBody(empty, false))));
    EXPECT_FALSE(terminal.waitForData(1, 500));
    EXPECT_TRUE(terminal.isConnected());

    // Still served on the same connection.
    ASSERT_TRUE(terminal.write(
        TerminalPackets::frame(0x0001, "IT-BAD", 3, TerminalPackets::reportBody(id, false))));
    ASSERT_TRUE(terminal.waitForData(42 + 132));
    SocketPacket answer;
    ASSERT_EQ(SocketPacketHandler().DataParse(terminal.take(42 + 132), answer), 0);
    EXPECT_EQ(answer.cmd, 0x0001);
    EXPECT_EQ(answer.serialNo, 3);
}

TEST_F(UpgradeIntegrationTest, ReportAnsweredAtOnceWhileOthersAreInProgressLoops) {
    ASSERT_TRUE(startService());
    addPackage(kNew, 1000);
    const int looping = 20;
    QProcess loopers;
    loopers.setProcessChannelMode(QProcess::MergedChannels);
    loopers.start(QStringLiteral(WAYFARER_TERMINAL), terminalArgs("IT-LOOP", "upgrade")
                                                         << "--count" << QString::number(looping)
                                                         << "--no-download"
                                                         << "--loop-progress"
                                                         << "3000");
    QByteArray loopOutput;
    ASSERT_TRUE(waitUntil(
        [&] {
            loopOutput += loopers.readAll();
            return loopOutput.count("upgrade answer: flag 1") == looping;
        },
        10000))
        << loopOutput.constData();

    // With a sleeping main thread this report would wait behind every looper's 50 ms pause.
    FakeTerminal other;
    ASSERT_TRUE(other.connectTo(m_service.tcpPort()));
    DeviceReport id;
    id.devSN = "IT-OTHER";
    id.devType = "NOPKG";
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(other.write(
        TerminalPackets::frame(0x0001, "IT-OTHER", 1, TerminalPackets::reportBody(id, false))));
    ASSERT_TRUE(other.waitForData(42 + 132, 5000));
    // Behind every looper's pause it would take them all; answered before even half of that.
    EXPECT_LT(clock.elapsed(), looping * 50 / 2);
    EXPECT_EQ(loopers.state(), QProcess::Running);  // the loops were still going

    ASSERT_TRUE(waitUntil([&] { return loopers.state() == QProcess::NotRunning; }, 20000));
    loopOutput += loopers.readAll();
    EXPECT_EQ(loopers.exitCode(), 0) << loopOutput.constData();
}

}  // namespace

// A terminal that reports again and again while a package is on offer is offered it each time,
// and the console's history keeps one open attempt for it, not one per report.
TEST_F(UpgradeIntegrationTest, RepeatedOffersKeepOneOpenAttempt) {
    ASSERT_TRUE(startService());
    addPackage(kNew, 1000);
    FakeTerminal terminal;
    ASSERT_TRUE(terminal.connectTo(m_service.tcpPort()));
    DeviceReport id;
    id.devSN = "IT-AGAIN";
    id.devType = "T1";
    id.AppVersion = kOld;
    constexpr int kReports = 200;
    QByteArray reports;
    for (int i = 1; i <= kReports; ++i)
        reports += TerminalPackets::frame(0x0001, "IT-AGAIN", static_cast<quint16>(i),
                                          TerminalPackets::reportBody(id, false));
    ASSERT_TRUE(terminal.write(reports));
    // Each report: the upgrade answer and a progress poll (a header without a body).
    ASSERT_TRUE(terminal.waitForData(kReports * (42 + 132 + 42)));
    EXPECT_EQ(m_db->value("select count(*) from Tab_UpgradeAttempt where devSN='IT-AGAIN'").toInt(),
              1);
    EXPECT_TRUE(m_db->value("select url from Tab_UpgradeAttempt where devSN='IT-AGAIN'")
                    .toString()
                    .endsWith("/KORVA/dlPackage/T1/pkg.bin"));
}

// A fleet of terminals with nothing to do writes nothing per report at the default level; the
// versions compared are details for the debug level.
TEST_F(UpgradeIntegrationTest, IdleReportsLogNothingAtInfo) {
    const QString between = idleReportLog("info");
    // IT-MARK2's first line alone.
    EXPECT_TRUE(between.trimmed().endsWith("device is not registered!")) << between.toStdString();
    EXPECT_EQ(between.trimmed().count('\n'), 0) << between.toStdString();
}

TEST_F(UpgradeIntegrationTest, IdleReportsShowTheirComparisonAtDebug) {
    EXPECT_GE(idleReportLog("debug").count(kNew), 5);
}
