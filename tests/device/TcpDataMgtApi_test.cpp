// The device conversation driven in-process: packets in through readDataSlot, answers captured
// from sendSocketData, the real WFS.db in a temporary application directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <spdlog/sinks/base_sink.h>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"
#include "core/AppDir.h"
#include "core/Logger.h"
#include "db/DbSchema.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_Package.h"
#include "device/TcpDataMgtApi.h"
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
        m_api = std::make_unique<TcpDataMgtApi>(m_param);
        QObject::connect(m_api.get(), &TcpDataMgtApi::sendSocketData,
                         [this](QByteArray data, qintptr socketId) {
                             Sent sent;
                             EXPECT_EQ(SocketPacketHandler().DataParse(data, sent.packet), 0);
                             sent.socketId = socketId;
                             m_sent.push_back(sent);
                         });
    }

    QString sn(const char* suffix) const { return m_prefix + suffix; }

    TerminalIdentity identity(const QString& devSN, const QString& app = kOld) const {
        TerminalIdentity id;
        id.devSN = devSN;
        id.devType = m_type;
        id.AppVersion = app;
        id.McuVersion = kOld;
        id.FourGVersion = kOld;
        id.GnssVersion = kOld;
        id.SmartModule = kOld;
        return id;
    }

    void report(qintptr socketId, const TerminalIdentity& id, quint16 serial = 7) {
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
        EXPECT_TRUE(Tab_DeviceInfo().getDeviceBySN(d, devSN));
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

    QList<struDeviceInfo> list;
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].upgradeProgress, 40u);

    m_sent.clear();
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    progress(4, 100);
    EXPECT_FALSE(waitUntil([&] { return !m_sent.empty(); }, 200));
    const struDeviceInfo d = row(sn("P"));
    EXPECT_GE(d.UpgradeCompletionTime, before);
    EXPECT_FALSE(d.isAutoUpdate);
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    EXPECT_EQ(list.at(0).upgradeProgress, 100u);
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

TEST_F(TcpDataMgtApiTest, ProgressListOnlyReportersAndForgetsAtDisconnect) {
    makeApi();
    report(30, identity(sn("L1")));
    report(10, identity(sn("L2")));
    report(20, identity(sn("L3")));
    progress(30, 10);
    progress(10, 20);
    QList<struDeviceInfo> list;
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].devSN, sn("L2"));  // ascending socket ID
    EXPECT_EQ(list[1].devSN, sn("L1"));

    m_api->sockDisConnect(10, "127.0.0.1", 1);
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].devSN, sn("L1"));

    // The same terminal on a new connection replaces its stale entry.
    report(40, identity(sn("L1")));
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    EXPECT_TRUE(list.isEmpty());

    // So does another serial number under the same device ID, but an empty ID matches none.
    report(50, identity(sn("L4")));
    progress(50, 5);
    m_api->readDataSlot(
        51, TerminalPackets::frame(0x0001, sn("L4").toUtf8() + "-id", 1,
                                   TerminalPackets::reportBody(identity(sn("L5")), false)));
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    EXPECT_TRUE(list.isEmpty());
    for (int socket : {60, 61}) {
        m_api->readDataSlot(socket, TerminalPackets::frame(
                                        0x0001, QByteArray(), 1,
                                        TerminalPackets::reportBody(
                                            identity(sn("E") + QString::number(socket)), false)));
        progress(socket, 7);
    }
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    EXPECT_EQ(list.size(), 2);
}

TEST_F(TcpDataMgtApiTest, ProgressListReadableFromOtherThreadsWhileHandling) {
    makeApi();
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        QList<struDeviceInfo> list;
        while (!stop) {
            if (m_api->GetUpgradeProgress(list)) ++reads;
        }
    });
    // The reader gets through between handling steps: the list is never held up by them.
    auto readerAdvances = [&] {
        const int before = reads.load();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (reads.load() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return reads.load() > before;
    };
    EXPECT_TRUE(readerAdvances());
    for (int i = 0; i < 50; ++i) {
        report(200 + i, identity(sn("X") + QString::number(i)));
        progress(200 + i, i % 2 ? 100 : 30);
        if (i % 3 == 0) m_api->sockDisConnect(200 + i, "", 0);
        if (i % 10 == 5) {
            EXPECT_TRUE(readerAdvances()) << "after terminal " << i;
        }
    }
    stop = true;
    reader.join();
    QList<struDeviceInfo> list;
    ASSERT_TRUE(m_api->GetUpgradeProgress(list));
    EXPECT_EQ(list.size(), 50 - 17);
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

TEST_F(TcpDataMgtApiTest, UnsafeOrOrphanChunksAreNotWritten) {
    makeApi();
    addDevice(sn("H"), false, QString(), true);
    report(60, identity(sn("H")));
    m_sent.clear();
    for (const QByteArray& name : {QByteArray("../x"), QByteArray("a/b"), QByteArray("a\\b"),
                                   QByteArray(".."), QByteArray(".")}) {
        SCOPED_TRACE(name.constData());
        chunk(60, 1, name, 1, 1, "evil");
        EXPECT_TRUE(m_sent.empty());
        EXPECT_TRUE(row(sn("H")).GetLogFile);  // the transfer is not complete
    }
    QDirIterator it(g_appDir->path(), {"x", "b"}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(it.hasNext()) << it.next().toStdString();
    // Dots inside a name leave nothing: it is stored like any other.
    chunk(60, 1, "a..b.log", 1, 1, "fine");
    EXPECT_FALSE(row(sn("H")).GetLogFile);
    QDirIterator dotted(m_param.DevLogDir + "/" + sn("H"), {"a..b.log"}, QDir::Files,
                        QDirIterator::Subdirectories);
    EXPECT_TRUE(dotted.hasNext());

    m_api->sockDisConnect(60, "", 0);
    chunk(60, 1, "late.txt", 1, 1, "late");
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/late.txt"));
    QDirIterator late(g_appDir->path(), {"late.txt"}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(late.hasNext());
}

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
    EXPECT_FALSE(Tab_DeviceInfo().getDeviceBySN(d, sn("B")));
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

TEST_F(TcpDataMgtApiTest, BindUrlFileBindsForwardSlashPathOrAnswersWithoutBinder) {
    makeApi();
    QString boundUrl, boundPath;
    m_api->setUrlBinder([&](const QString& url, const QString& path) {
        boundUrl = url;
        boundPath = path;
    });
    SocketPacket header;
    header.serialNo = 3;
    const QString path = m_param.PackageDir + "/T9/p.bin";
    m_api->BindUrlFile(path, 90, header);
    EXPECT_EQ(boundUrl, "http://10.0.0.5:8001/KORVA/dlPackage/T9/p.bin");
    EXPECT_EQ(boundPath, QDir::fromNativeSeparators(path));
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0001, 0x0002}));

    m_sent.clear();
    m_api->setUrlBinder(nullptr);
    m_api->BindUrlFile(path, 90, header);
    EXPECT_EQ(cmds(), std::vector<quint16>({0x0001, 0x0002}));
}

}  // namespace
