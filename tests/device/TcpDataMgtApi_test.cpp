// The device conversation driven in-process: packets in through readDataSlot, answers captured
// from sendSocketData, the real WFS.db in a temporary application directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <mutex>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtEndian>

#include <spdlog/sinks/base_sink.h>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"
#include "core/AppDir.h"
#include "core/Logger.h"
#include "db/DbSchema.h"
#include "db/PinnedTransaction.h"
#include "db/PooledConnection.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_Package.h"
#include "device/TcpDataMgtApi.h"
#include "files/PathGuard.h"
#include "tests/device/TerminalHandlerParts.h"
#include "tests/support/ServiceProcess.h"

namespace {

// Keeps the payloads of the handler's log entries.
class PayloadSink : public spdlog::sinks::base_sink<std::mutex> {
  public:
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(m_lines);
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        m_lines.emplace_back(msg.payload.data(), msg.payload.size());
    }
    void flush_() override {}

  private:
    std::vector<std::string> m_lines;
};

std::shared_ptr<PayloadSink> g_sink;
QTemporaryDir* g_appDir = nullptr;

class MsgEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        g_appDir = new QTemporaryDir;
        ASSERT_TRUE(g_appDir->isValid());
        setApplicationDirectoryForTesting(g_appDir->path());
        ASSERT_TRUE(DbSchema::ensure());
        g_sink = std::make_shared<PayloadSink>();
        getLogger("TcpDataMgtApi")->sinks().push_back(g_sink);
        // The versions compared are details of the debug level; the tests read them.
        getLogger("TcpDataMgtApi")->set_level(spdlog::level::debug);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new MsgEnvironment);

struct Sent {
    SocketPacket packet;
    qintptr socketId;
};

const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

class TcpDataMgtApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int run = 0;
        m_prefix = QStringLiteral("U%1_").arg(++run);
        m_type = m_prefix + QStringLiteral("T1");
        const QString root = g_appDir->path() + QDir::separator();
        m_param.PackageDir = root + "Package";
        m_param.DevLogDir = root + "DevLog";
        m_param.DevIndexDir = root + "DevIndex";
        m_param.PrintDir = root + "Print";
        m_param.RunInfoDir = root + "RunInfo";
        m_param.NetIP = "10.0.0.5";
        m_param.HttpPort2 = 8001;
        g_sink->take();
    }

    void makeApi() {
        m_api = std::make_unique<TcpDataMgtApi>(m_param, m_metrics, m_activity, m_files);
        QObject::connect(m_api.get(), &TcpDataMgtApi::sendSocketData,
                         [this](QByteArray data, qintptr socketId) {
                             Sent sent;
                             EXPECT_EQ(SocketPacketHandler().DataParse(data, sent.packet), 0);
                             sent.socketId = socketId;
                             m_sent.push_back(sent);
                         });
    }

    QString sn(const char* suffix) const { return m_prefix + suffix; }

    DeviceReport identity(const QString& devSN, const QString& app = kOld) const {
        DeviceReport id;
        id.devSN = devSN;
        id.devType = m_type;
        id.AppVersion = app;
        id.McuVersion = kOld;
        id.FourGVersion = kOld;
        id.GnssVersion = kOld;
        id.SmartModule = kOld;
        return id;
    }

    void report(qintptr socketId, const DeviceReport& id, quint16 serial = 7) {
        m_api->readDataSlot(socketId,
                            TerminalPackets::frame(0x0001, id.devSN.toUtf8() + "-id", serial,
                                                   TerminalPackets::reportBody(id, false)));
    }
    void progress(qintptr socketId, quint32 percent, quint16 serial = 20) {
        m_api->readDataSlot(
            socketId,
            TerminalPackets::frame(0x0002, "dev", serial, TerminalPackets::progressBody(percent)));
    }
    void chunk(qintptr socketId, quint32 type, const QByteArray& name, quint32 c1, quint32 c2,
               const QByteArray& data) {
        m_api->readDataSlot(socketId, TerminalPackets::frame(0x0004, "dev", 30,
                                                             TerminalPackets::fileChunkBody(
                                                                 type, name, c1, c2, 1, 1, data)));
    }

    // A package for m_type with the given App and 4G versions; the file exists unless told,
    // with the size the table holds unless storedSize says otherwise.
    void addPackage(const QString& app, const QString& fourG = QString(), bool withFile = true,
                    bool withPath = true, const QString& name = QStringLiteral("a.bin"),
                    int storedSize = 7) {
        struPackageInfo p;
        p.packageName = name;
        p.AppVersion = app;
        p.FourGVersion = fourG;
        p.deviceType = m_type;
        p.size = storedSize;
        if (withPath) {
            p.packagePath =
                m_param.PackageDir + QDir::separator() + m_type + QDir::separator() + name;
            if (withFile) {
                QDir().mkpath(QFileInfo(p.packagePath).path());
                QFile f(p.packagePath);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write("package");
            }
        }
        ASSERT_TRUE(Tab_Package().insertPackage(p));
    }

    struDeviceInfo addDevice(const QString& devSN, bool forced = false,
                             const QString& cmd = QString(), bool logFile = false,
                             bool indexFile = false) {
        struDeviceInfo d;
        d.devSN = devSN;
        d.devType = m_type;
        d.isAutoUpdate = forced;
        d.ConfigCmd = cmd;
        d.GetLogFile = logFile;
        d.GetIndexFile = indexFile;
        EXPECT_TRUE(Tab_DeviceInfo().insertDevice(d));
        return d;
    }

    struDeviceInfo row(const QString& devSN) {
        struDeviceInfo d;
        EXPECT_EQ(Tab_DeviceInfo().getDeviceBySN(d, devSN), Tab_DeviceInfo::RowState::Found);
        return d;
    }

    std::vector<quint16> cmds() const {
        std::vector<quint16> out;
        for (const Sent& s : m_sent) out.push_back(s.packet.cmd);
        return out;
    }
    quint32 u32At(size_t index) const {
        return qFromBigEndian<quint32>(m_sent.at(index).packet.data.constData());
    }
    // The handler's log lines since the last take that contain text.
    std::vector<std::string> linesWith(const std::string& text) {
        std::vector<std::string> out;
        for (const std::string& line : g_sink->take())
            if (line.find(text) != std::string::npos) out.push_back(line);
        return out;
    }
    static std::vector<std::string> versionMessages(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& line : lines)
            if (line.find("小于") != std::string::npos) out.push_back(line);
        return out;
    }
    std::vector<std::string> versionMessages() { return versionMessages(g_sink->take()); }

    QString m_prefix;
    QString m_type;
    struLocalParam m_param;
    MetricsRegistry m_registry;
    TerminalMetrics m_metrics{m_registry};
    UpgradeMetrics m_upgradeMetrics{m_registry};
    FileOperation m_files;
    ReportWriteQueue m_writes{m_registry};
    DeviceActivity m_activity{TerminalHandlerParts::configured().InstanceName, m_upgradeMetrics,
                              m_writes};
    std::unique_ptr<TcpDataMgtApi> m_api;
    std::vector<Sent> m_sent;
};

// The upgrade decision, one row per case: what the table and package hold, what is answered.
// ChangedFile: the file no longer has the size it was uploaded with; LongAddress: its address
// would not fit the answer.
enum PackageState { NoPackage, EmptyPath, MissingFile, Present, ChangedFile, LongAddress };
struct DecisionCase {
    const char* name;
    bool registered;
    bool forced;
    int manualMode;
    PackageState package;
    QString packageApp;
    QString packageFourG;
    QString deviceApp;
    bool upgrade;     // answered with flag 1, the URL and a poll; otherwise flag 0 alone
    bool appMessage;  // the "package App older" line is logged
    const char* logged = nullptr;  // a line that holds this is logged
};

void PrintTo(const DecisionCase& c, std::ostream* os) {
    *os << c.name;
}

const QString kNewer4G = QStringLiteral("V5.4.0 build220711");
const DecisionCase kDecisionCases[] = {
    {"new_newer_app_automatic", false, false, 0, Present, kNew, "", kOld, true, false},
    {"new_newer_app_manual", false, false, 1, Present, kNew, "", kOld, false, false},
    {"new_no_package", false, false, 0, NoPackage, "", "", kOld, false, false},
    {"new_empty_package_path", false, false, 0, EmptyPath, kNew, "", kOld, false, false},
    {"new_package_file_missing", false, false, 0, MissingFile, kNew, "", kOld, false, false},
    {"registered_forced_equal_manual", true, true, 1, Present, kOld, "", kOld, true, false},
    {"registered_forced_file_missing", true, true, 0, MissingFile, kNew, "", kOld, false, false},
    {"registered_equal_versions", true, false, 0, Present, kOld, "", kOld, false, true},
    {"empty_package_app_newer_4G", true, false, 0, Present, "", kNewer4G, kOld, true, false},
    {"terminal_reports_no_app_version", false, false, 0, Present, kNew, "", "", false, true},
    {"new_package_file_changed", false, false, 0, ChangedFile, kNew, "", kOld, false, false,
     "package file changed on disk"},
    {"registered_forced_file_changed", true, true, 0, ChangedFile, kNew, "", kOld, false, false,
     "package file changed on disk"},
    {"registered_forced_file_missing_logged", true, true, 0, MissingFile, kNew, "", kOld, false,
     false, "package file missing"},
    {"registered_forced_address_too_long", true, true, 0, LongAddress, kNew, "", kOld, false, false,
     "package address too long"},
};

class DecisionStepTest : public TcpDataMgtApiTest,
                         public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(DecisionStepTest, AnswersTheReport) {
    const DecisionCase& c = GetParam();
    m_param.ManualMode = static_cast<quint32>(c.manualMode);
    makeApi();
    // "http://10.0.0.5:8001/KORVA/dlPackage/<type>/" is 38 bytes and the type: one byte over.
    const QString longName = QString(129 - 38 - m_type.size(), 'n');
    if (c.package != NoPackage)
        addPackage(c.packageApp, c.packageFourG, c.package != MissingFile, c.package != EmptyPath,
                   c.package == LongAddress ? longName : "a.bin", c.package == ChangedFile ? 8 : 7);
    const QString devSN = sn("D");
    if (c.registered) addDevice(devSN, c.forced);
    report(101, identity(devSN, c.deviceApp), 7);

    const std::vector<quint16> answers =
        c.upgrade ? std::vector<quint16>{0x0001, 0x0002} : std::vector<quint16>{0x0001};
    EXPECT_EQ(cmds(), answers);
    ASSERT_FALSE(m_sent.empty());
    EXPECT_EQ(m_sent[0].socketId, 101);
    EXPECT_EQ(m_sent[0].packet.serialNo, 7);  // the upgrade answer keeps the serial number
    quint32 flag = 9;
    QString url;
    ASSERT_TRUE(TerminalPackets::parseUpgradeAnswer(m_sent[0].packet.data, flag, url));
    EXPECT_EQ(flag, c.upgrade ? 1u : 0u);
    if (c.upgrade) {
        EXPECT_EQ(url, "http://10.0.0.5:8001/KORVA/dlPackage/" + m_type + "/a.bin");
        EXPECT_EQ(m_sent.at(1).packet.serialNo, 8);
    } else {
        EXPECT_TRUE(url.isEmpty());
    }
    // Every terminal ends up in the table, new ones with their report.
    EXPECT_EQ(row(devSN).AppVersion, c.deviceApp);
    EXPECT_EQ(row(devSN).devId, devSN + "-id");
    std::vector<std::string> messages;
    if (c.appMessage)
        messages.push_back(
            "TcpDataMgtApi::readDataSlot, 升级包App版本:" + c.packageApp.toStdString() +
            " 小于 设备App版本:" + c.deviceApp.toStdString());
    const std::vector<std::string> lines = g_sink->take();
    EXPECT_EQ(versionMessages(lines), messages);
    if (c.logged) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(c.logged) != std::string::npos;
        })) << c.logged;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DecisionStepTest, ::testing::ValuesIn(kDecisionCases),
                         [](const ::testing::TestParamInfo<DecisionCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TcpDataMgtApiTest, VersionMessagesInComponentOrder) {
    makeApi();
    struPackageInfo p;
    p.deviceType = m_type;
    p.packagePath = m_param.PackageDir + "/" + m_type + "/b.bin";
    QDir().mkpath(QFileInfo(p.packagePath).path());
    QFile f(p.packagePath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    p.AppVersion = "V1.0 build220101";
    p.FourGVersion = "V1.1 build220101";
    p.McuVersion = "V1.2 build220101";
    p.GnssVersion = "V1.3 build220101";
    p.SmartModule = "V1.4 build220101";
    ASSERT_TRUE(Tab_Package().insertPackage(p));
    report(5, identity(sn("V")));
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0001}));
    const std::string op = "TcpDataMgtApi::readDataSlot, ";
    const std::string dev = kOld.toStdString();
    EXPECT_EQ(versionMessages(),
              std::vector<std::string>({
                  op + "升级包App版本:V1.0 build220101 小于 设备App版本:" + dev,
                  op + "升级包4g版本:V1.1 build220101 小于 设备4g版本:" + dev,
                  op + "升级包mcu版本:V1.2 build220101 小于 设备mcu版本:" + dev,
                  op + "升级包GNSS版本:V1.3 build220101 小于 设备GNSS版本:" + dev,
                  op + "升级包智能模块版本:V1.4 build220101 小于 设备智能模块版本:" + dev,
              }));
}

TEST_F(TcpDataMgtApiTest, PendingCommandThenFileRequestOrNoUpgrade) {
    makeApi();
    addDevice(sn("C1"), false, "reboot", false, true);
    addDevice(sn("C2"), false, "reboot");
    report(1, identity(sn("C1")), 65535);
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0003, 0x0004}));
    EXPECT_EQ(m_sent[0].packet.data, QByteArray("reboot"));
    EXPECT_EQ(m_sent[0].packet.serialNo, 1);  // 65535 wraps past 0
    EXPECT_EQ(u32At(1), 2u);
    EXPECT_EQ(m_sent[1].packet.serialNo, 1);

    m_sent.clear();
    report(2, identity(sn("C2")));
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0003, 0x0001}));
    EXPECT_EQ(u32At(1), 0u);
}

TEST_F(TcpDataMgtApiTest, CommandResultClearsOnlyOnSuccess) {
    makeApi();
    addDevice(sn("R"), false, "reboot");
    report(3, identity(sn("R")));
    m_sent.clear();
    m_api->readDataSlot(
        3, TerminalPackets::frame(0x0003, "dev", 9, TerminalPackets::cmdResultBody(1, "failed")));
    EXPECT_TRUE(m_sent.empty());
    EXPECT_EQ(row(sn("R")).ConfigCmd, "reboot");
    report(3, identity(sn("R")));
    ASSERT_EQ(cmds().front(), 0x0003);  // sent again

    m_sent.clear();
    m_api->readDataSlot(
        3, TerminalPackets::frame(0x0003, "dev", 9, TerminalPackets::cmdResultBody(0, "ok")));
    EXPECT_TRUE(m_sent.empty());
    EXPECT_EQ(row(sn("R")).ConfigCmd, "");
    report(3, identity(sn("R")));
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0001}));
}

TEST_F(TcpDataMgtApiTest, ProgressPollsAfterPauseAndCompletesAtHundred) {
    makeApi();
    addPackage(kNew);
    report(4, identity(sn("P")));  // a first-time terminal
    m_sent.clear();
    QElapsedTimer clock;
    clock.start();
    progress(4, 40, 20);
    EXPECT_TRUE(m_sent.empty());  // the poll waits, without holding the thread
    ASSERT_TRUE(waitUntil([&] { return !m_sent.empty(); }, 2000));
    EXPECT_GE(clock.elapsed(), TcpDataMgtApi::kProgressPollDelayMs - 5);
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0002}));
    EXPECT_EQ(m_sent[0].packet.serialNo, 21);

    m_sent.clear();
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    progress(4, 100);
    EXPECT_FALSE(waitUntil([&] { return !m_sent.empty(); }, 200));
    const struDeviceInfo d = row(sn("P"));
    EXPECT_GE(d.UpgradeCompletionTime, before);
    EXPECT_FALSE(d.isAutoUpdate);
}

// The packets of one batch read their terminals ahead in one statement; each report is answered
// from its own terminal's row, and a report after its terminal's progress 100 in the same batch
// sees what that wrote (the forced upgrade done, so no second offer).
TEST_F(TcpDataMgtApiTest, BatchReadsAheadButAReportSeesItsTerminalsEarlierPacket) {
    makeApi();
    addPackage(kNew);
    addDevice(sn("F"), true);
    addDevice(sn("Q"), false);
    report(1, identity(sn("D")));  // offered, then forced by an operator
    ASSERT_TRUE(Tab_DeviceInfo().updateDevice([&] {
        struDeviceInfo d = row(sn("D"));
        d.isAutoUpdate = true;
        return d;
    }()));
    m_sent.clear();
    const auto reported = [](const DeviceReport& id) {
        return TerminalPackets::frame(0x0001, id.devSN.toUtf8() + "-id", 9,
                                      TerminalPackets::reportBody(id, false));
    };
    const QVector<QPair<qintptr, QByteArray>> batch = {
        {1, TerminalPackets::frame(0x0002, "dev", 8, TerminalPackets::progressBody(100))},
        {1, reported(identity(sn("D"), kNew))},
        {2, reported(identity(sn("F")))},
        {3, reported(identity(sn("Q"), kNew))}};
    {
        PinnedTransaction transaction;
        ASSERT_TRUE(transaction.isOpen());
        m_api->prefetch(batch);
        for (const auto& packet : batch) m_api->readDataSlot(packet.first, packet.second);
        ASSERT_TRUE(transaction.commit());
    }
    std::map<qintptr, quint32> flags;  // each connection's upgrade answer
    for (const Sent& sent : m_sent)
        if (sent.packet.cmd == 0x0001)
            flags[sent.socketId] = qFromBigEndian<quint32>(sent.packet.data.constData());
    EXPECT_EQ(flags, (std::map<qintptr, quint32>{{1, 0}, {2, 1}, {3, 0}}));
    EXPECT_EQ(row(sn("D")).AppVersion, kNew);
}

// A completion counts once the database stored it: one whose attempt was superseded meanwhile
// (another instance handed the terminal the package again) is none.
TEST_F(TcpDataMgtApiTest, CompletionCountedOnceStored) {
    makeApi();
    addPackage(kNew);
    report(30, identity(sn("S1")));
    report(31, identity(sn("S2")));
    {
        PooledConnection connection;
        QSqlQuery query(connection.database());
        ASSERT_TRUE(
            query.exec("update Tab_UpgradeAttempt set isCurrent=0 where devSN='" + sn("S2") + "'"));
    }
    progress(30, 100);
    progress(31, 100);
    const QString text = QString::fromStdString(m_registry.exposition());
    int completed = 0;
    for (auto it = QRegularExpression(R"(\nwayfarer_upgrades_completed_total\{.*\} (\d+))")
                       .globalMatch(text);
         it.hasNext();)
        completed += it.next().captured(1).toInt();
    EXPECT_EQ(completed, 1) << text.toStdString();
}

TEST_F(TcpDataMgtApiTest, WaitingPollDroppedAtDisconnect) {
    makeApi();
    report(5, identity(sn("W")));
    m_sent.clear();
    progress(5, 40);
    progress(6, 40);
    m_api->sockDisConnect(5, "", 0);
    // Socket 6's poll proves the pause is over; socket 5's must not follow.
    ASSERT_TRUE(waitUntil([&] { return !m_sent.empty(); }, 2000));
    EXPECT_FALSE(waitUntil([&] { return m_sent.size() > 1; }, 200));
    ASSERT_EQ(m_sent.size(), 1u);
    EXPECT_EQ(m_sent[0].socketId, 6);
}

TEST_F(TcpDataMgtApiTest, ForcedFlagClearedAtHundred) {
    makeApi();
    addPackage(kOld);
    addDevice(sn("F"), true);
    report(6, identity(sn("F")));
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0001, 0x0002}));
    progress(6, 100);
    EXPECT_FALSE(row(sn("F")).isAutoUpdate);
    EXPECT_GT(row(sn("F")).UpgradeCompletionTime, 0);
}

TEST_F(TcpDataMgtApiTest, FileChunksLandInTheReportDirectory) {
    makeApi();
    addDevice(sn("G"), false, QString(), true, true);
    report(50, identity(sn("G")));
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0004}));
    EXPECT_EQ(u32At(0), 1u);
    m_sent.clear();

    chunk(50, 1, "log.txt", 1, 3, "aaa");
    chunk(50, 1, "log.txt", 2, 3, "bbb");
    EXPECT_TRUE(m_sent.empty());
    EXPECT_TRUE(row(sn("G")).GetLogFile);
    chunk(50, 1, "log.txt", 3, 3, "ccc");
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0004}));
    EXPECT_EQ(u32At(0), 2u);
    EXPECT_FALSE(row(sn("G")).GetLogFile);
    EXPECT_TRUE(row(sn("G")).GetIndexFile);

    const QString dir = m_param.DevLogDir + "/" + sn("G");
    const QStringList stamps = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(stamps.size(), 1);
    EXPECT_EQ(stamps[0].size(), 12);  // yyyyMMddHHmm
    QFile file(dir + "/" + stamps[0] + "/log.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("aaabbbccc"));

    m_sent.clear();
    chunk(50, 2, "idx.bin", 1, 1, "i");
    EXPECT_TRUE(m_sent.empty());  // nothing left to ask for
    EXPECT_FALSE(row(sn("G")).GetIndexFile);
}

// Whatever names a terminal sends, its file is stored, under a safe form of them, inside its
// own directory, and its request is then done.
TEST_F(TcpDataMgtApiTest, UnsafeNamesAreStoredInsideTheirDirectory) {
    makeApi();
    const struct {
        const char* serial;
        QByteArray name;
        const char* stored;
    } cases[] = {
        {"H1", "../x", "..%2Fx"},     {"H2", "a/b", "a%2Fb"},   {"H3", "a\\b", "a%5Cb"},
        {"H4", "..", "%2E%2E"},       {"H5", ".", "%2E"},       {"H6", "a..b.log", "a..b.log"},
        {"/../H7", "f.log", "f.log"}, {"..", "f.log", "f.log"}, {"\\H8", "f.log", "f.log"},
    };
    qintptr socket = 60;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        // The serial number stands alone for "..", so it is not the prefix's last part.
        const QString devSN = QString::fromLatin1(c.serial) == ".." ? ".." : sn(c.serial);
        addDevice(devSN, false, QString(), true);
        report(++socket, identity(devSN));
        chunk(socket, 1, c.name, 1, 1, "evil");
        EXPECT_FALSE(row(devSN).GetLogFile);
        QDirIterator stored(m_param.DevLogDir + "/" + safePathComponent(devSN),
                            {QString::fromLatin1(c.stored)}, QDir::Files | QDir::Hidden,
                            QDirIterator::Subdirectories);
        EXPECT_TRUE(stored.hasNext());
    }
    QDirIterator escaped(g_appDir->path(), {"x", "b"}, QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
    EXPECT_FALSE(escaped.hasNext()) << escaped.next().toStdString();
    // Each file sits in its report's directory, one level below its serial number's.
    const QRegularExpression inPlace("^" + QRegularExpression::escape(m_param.DevLogDir) +
                                     "/[^/]+/[0-9]{12}/f\\.log$");
    int placed = 0;
    for (QDirIterator it(g_appDir->path(), {"f.log"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext(); ++placed)
        EXPECT_TRUE(inPlace.match(it.next()).hasMatch()) << it.filePath().toStdString();
    EXPECT_EQ(placed, 3);

    // After the disconnect the late chunk has no request and no directory.
    m_api->sockDisConnect(socket, "", 0);
    chunk(socket, 1, "late.txt", 1, 1, "late");
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/late.txt"));
    QDirIterator late(g_appDir->path(), {"late.txt"}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(late.hasNext());
}

// A connection that reports a second serial number is not one terminal: it is closed, and
// nothing it sends is handled or stored any more.
TEST_F(TcpDataMgtApiTest, SerialNumberChangeClosesTheConnection) {
    makeApi();
    QSignalSpy closing(m_api.get(), &TcpDataMgtApi::closeConnection);
    m_api->sockConnect(90, "192.0.2.7", 40001);
    report(90, identity(sn("S1")));
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0001}));
    m_sent.clear();
    g_sink->take();

    report(90, identity(sn("S2")));
    report(90, identity(sn("S1")));
    progress(90, 40);
    EXPECT_FALSE(waitUntil([&] { return !m_sent.empty(); }, 200));
    ASSERT_EQ(closing.count(), 1);
    EXPECT_EQ(closing.at(0).at(0).value<qintptr>(), 90);
    struDeviceInfo d;
    EXPECT_EQ(Tab_DeviceInfo().getDeviceBySN(d, sn("S2")), Tab_DeviceInfo::RowState::Missing);
    const std::vector<std::string> lines = linesWith("192.0.2.7:40001");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(sn("S1").toStdString() + " to " + sn("S2").toStdString()),
              std::string::npos);

    // Another connection is a terminal of its own.
    report(91, identity(sn("S2")));
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0001}));
}

// The lookup failing (a busy database, say) says nothing about the terminal: it is answered
// as unknown and not registered again.
class FailingLookup : public Tab_DeviceInfo {
  public:
    RowState getDeviceBySN(struDeviceInfo&, const QString&, bool*) override {
        return RowState::Failed;
    }
};

TEST_F(TcpDataMgtApiTest, FailedLookupRegistersNothing) {
    m_api = std::make_unique<TcpDataMgtApi>(m_param, m_metrics, m_activity, m_files,
                                            std::make_unique<FailingLookup>());
    QObject::connect(m_api.get(), &TcpDataMgtApi::sendSocketData,
                     [this](QByteArray data, qintptr socketId) {
                         Sent sent;
                         EXPECT_EQ(SocketPacketHandler().DataParse(data, sent.packet), 0);
                         sent.socketId = socketId;
                         m_sent.push_back(sent);
                     });
    addPackage(kNew);  // would upgrade a new terminal
    addDevice(sn("Q"), true, "reboot", true);
    report(95, identity(sn("Q")));
    report(96, identity(sn("Q2")));
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0001, 0x0001}));
    for (size_t i = 0; i < m_sent.size(); ++i) EXPECT_EQ(u32At(i), 0u);
    EXPECT_EQ(linesWith("device lookup failed").size(), 2u);
    for (const QString& devSN : {sn("Q"), sn("Q2")}) {
        QList<struDeviceInfo> rows;
        ASSERT_TRUE(Tab_DeviceInfo().queryDevices(rows, devSN, QString()));
        EXPECT_EQ(rows.size(), devSN == sn("Q") ? 1 : 0);
    }
}

// Chunks are stored only for the file requested on the connection, up to the quota, and the
// request is done only when its file arrived whole.
struct ChunkCase {
    const char* name;
    std::vector<std::array<quint32, 6>> chunks;  // type, counters 1-4, data bytes
    bool done;                                   // the log file request is cleared
    int stored;                                  // bytes in the stored log file
    bool overQuota;                              // the refusal is logged, once
};

void PrintTo(const ChunkCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<std::array<quint32, 6>> numbered(quint32 count, quint32 bytes) {
    std::vector<std::array<quint32, 6>> out;
    for (quint32 i = 1; i <= count; ++i) out.push_back({1, i, count, 1, 1, bytes});
    return out;
}

const quint32 kFull = TerminalPackets::kMaxChunkData;
const ChunkCase kChunkCases[] = {
    {"in_order", {{1, 1, 3, 1, 1, 10}, {1, 2, 3, 1, 1, 10}, {1, 3, 3, 1, 1, 5}}, true, 25, false},
    {"gap", {{1, 1, 3, 1, 1, 10}, {1, 3, 3, 1, 1, 10}}, false, 20, false},
    {"repeat", {{1, 1, 2, 1, 1, 10}, {1, 1, 2, 1, 1, 10}, {1, 2, 2, 1, 1, 10}}, false, 30, false},
    {"empty_last_chunk", {{1, 1, 2, 1, 1, 10}, {1, 2, 2, 1, 1, 0}}, true, 10, false},
    {"parts_not_all_sent", {{1, 1, 1, 1, 2, 10}}, false, 10, false},
    {"two_parts", {{1, 1, 1, 1, 2, 10}, {1, 1, 1, 2, 2, 10}}, true, 20, false},
    {"type_not_requested", {{2, 1, 1, 1, 1, 10}, {3, 1, 1, 1, 1, 10}}, false, 0, false},
    // 1 MiB holds 777 full chunks; the 778th and all after it are refused.
    {"over_quota", numbered(780, kFull), false, 777 * static_cast<int>(kFull), true},
    {"at_quota", numbered(777, kFull), true, 777 * static_cast<int>(kFull), false},
};

class ChunkStepTest : public TcpDataMgtApiTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(ChunkStepTest, StoresOnlyWhatWasRequested) {
    const ChunkCase& c = GetParam();
    m_param.DeviceFileQuotaMiB = 1;
    makeApi();
    const QString devSN = sn(c.name).left(16);
    addDevice(devSN, false, QString(), true, true);
    report(100, identity(devSN));
    ASSERT_EQ(cmds(), std::vector<quint16>({0x0004}));  // the log file first
    m_sent.clear();
    g_sink->take();
    for (const auto& k : c.chunks)
        m_api->readDataSlot(100, TerminalPackets::frame(
                                     0x0004, "dev", 30,
                                     TerminalPackets::fileChunkBody(k[0], "f.log", k[1], k[2], k[3],
                                                                    k[4], QByteArray(k[5], 'x'))));
    EXPECT_EQ(!row(devSN).GetLogFile, c.done);
    EXPECT_TRUE(row(devSN).GetIndexFile);
    // Done, the next request follows; otherwise nothing until the next report.
    EXPECT_EQ(cmds(), c.done ? std::vector<quint16>({0x0004}) : std::vector<quint16>());
    qint64 stored = 0;
    for (QDirIterator it(m_param.DevLogDir + "/" + devSN, {"f.log"}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        stored += QFileInfo(it.next()).size();
    EXPECT_EQ(stored, c.stored);
    EXPECT_FALSE(QDir(m_param.DevIndexDir + "/" + devSN).exists());
    EXPECT_EQ(linesWith("over its quota").size(), c.overQuota ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkStepTest, ::testing::ValuesIn(kChunkCases),
                         [](const ::testing::TestParamInfo<ChunkCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TcpDataMgtApiTest, RefusedPacketsGetNoAnswer) {
    makeApi();
    QByteArray bad = TerminalPackets::frame(0x0001, "dev", 1,
                                            TerminalPackets::reportBody(identity(sn("B")), false));
    bad[50] = static_cast<char>(bad[50] ^ 0x01);
    m_api->readDataSlot(70, bad);
    report(70, identity(QString()));
    m_api->readDataSlot(70, TerminalPackets::frame(0x0001, "dev", 1, QByteArray(303, 'a')));
    EXPECT_TRUE(m_sent.empty());
    struDeviceInfo d;
    EXPECT_EQ(Tab_DeviceInfo().getDeviceBySN(d, sn("B")), Tab_DeviceInfo::RowState::Missing);
}

TEST_F(TcpDataMgtApiTest, OtherTerminalAnsweredWhilePollWaits) {
    makeApi();
    addPackage(kNew);
    report(80, identity(sn("A")));
    progress(80, 10);
    m_sent.clear();
    report(81, identity(sn("B"), kOld));
    ASSERT_FALSE(m_sent.empty());  // answered in the same call, not after A's pause
    EXPECT_EQ(m_sent[0].socketId, 81);
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const Sent& s : m_sent)
                if (s.socketId == 80 && s.packet.cmd == 0x0002) return true;
            return false;
        },
        2000));
}

}  // namespace
