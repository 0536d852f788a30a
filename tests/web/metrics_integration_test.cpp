// "/metrics" of the real service: terminals upgrade, stall, lie about themselves and find the
// link full, packages are downloaded and a few management requests made, and every scrape must
// be valid exposition text whose numbers moved exactly as the traffic says.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QUrl>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/Login.h"
#include "tests/support/MetricsText.h"
#include "tests/support/TerminalRun.h"
#include "tests/support/WebServiceFixture.h"

namespace {

using Labels = MetricsText::Labels;
using Headers = QList<QPair<QByteArray, QByteArray>>;

const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

// Every family the service declares, with its type.
const QPair<const char*, const char*> kFamilies[] = {
    {"wayfarer_terminals_connected", "gauge"},
    {"wayfarer_terminal_connections_accepted_total", "counter"},
    {"wayfarer_terminal_connections_refused_total", "counter"},
    {"wayfarer_terminal_packets_received_total", "counter"},
    {"wayfarer_terminal_packets_sent_total", "counter"},
    {"wayfarer_terminal_packets_refused_total", "counter"},
    {"wayfarer_upgrades_started_total", "counter"},
    {"wayfarer_upgrades_completed_total", "counter"},
    {"wayfarer_upgrades_stalled", "gauge"},
    {"wayfarer_download_requests_total", "counter"},
    {"wayfarer_download_sent_bytes_total", "counter"},
    {"wayfarer_downloads_active", "gauge"},
    {"wayfarer_http_requests_total", "counter"},
    {"wayfarer_http_request_duration_seconds", "histogram"},
    {"wayfarer_db_call_duration_seconds", "histogram"},
    {"wayfarer_db_pool_waits_total", "counter"},
    {"wayfarer_db_pool_wait_duration_seconds", "histogram"},
    {"wayfarer_process_open_fds", "gauge"},
    {"wayfarer_process_max_fds", "gauge"},
    {"wayfarer_process_threads", "gauge"},
    {"wayfarer_process_resident_memory_bytes", "gauge"},
    {"wayfarer_process_cpu_seconds_total", "counter"},
    {"wayfarer_process_start_time_seconds", "gauge"},
    {"wayfarer_webhook_attempts_total", "counter"},
    {"wayfarer_webhook_dropped_total", "counter"},
    {"wayfarer_webhook_pending", "gauge"},
    {"wayfarer_build_info", "gauge"},
    {"wayfarer_terminals_online", "gauge"},
    {"wayfarer_terminal_report_answer_duration_seconds", "histogram"},
    {"wayfarer_login_failures_total", "counter"},
    {"wayfarer_requests_pending", "gauge"},
    {"wayfarer_rollouts", "gauge"},
};

// A client of the download port that asks for a file and then reads nothing: its reply stays
// in progress. A small receive buffer keeps the kernel from taking the file off the server.
class StuckDownload {
  public:
    StuckDownload(quint16 port, const QByteArray& path) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: t\r\n\r\n";
        m_sent = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::send(m_fd, request.constData(), request.size(), MSG_NOSIGNAL) == request.size();
    }
    ~StuckDownload() { close(); }
    bool sent() const { return m_sent; }
    void close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd = -1;
    bool m_sent = false;
};

class MetricsTest : public ::testing::Test {
  protected:
    // One scrape, parsed; the test fails at once on text that breaks the format.
    MetricsText scrape() {
        const HttpResponse r =
            httpGet(m_service.httpPort(), "/metrics", {{"Authorization", m_token}});
        EXPECT_EQ(r.status, 200) << r.body.constData();
        EXPECT_TRUE(r.header("Content-Type").startsWith("text/plain; version=0.0.4"));
        MetricsText text;
        QString error;
        EXPECT_TRUE(text.parse(r.body, error)) << error.toStdString();
        return text;
    }
    bool becomes(const QByteArray& name, const Labels& labels, double value) {
        return waitUntil([&] { return scrape().value(name, labels) == value; }, 15000);
    }
    // Inserts a package of `size` bytes for the device type; its id.
    QString addPackage(const QString& type, const QString& name, int size) {
        const QString path = m_service.appDir() + "/Package/" + type + "/" + name;
        writeFile(path, patternBytes(size));
        m_db->exec(QStringLiteral("insert into Tab_Package(packageName,AppVersion,packagePath,size,"
                                  "deviceType) values('%1','%2','%3',%4,'%5')")
                       .arg(name, kNew, path)
                       .arg(size)
                       .arg(type));
        return m_db->value("select id from Tab_Package where deviceType='" + type + "'").toString();
    }
    QStringList terminal(const QString& sn, const QString& type, const QString& expect) const {
        return {"--port",    QString::number(m_service.tcpPort()),
                "--sn",      sn,
                "--type",    type,
                "--app",     kOld,
                "--expect",  expect,
                "--timeout", "10000"};
    }

    ServiceProcess m_service;
    std::unique_ptr<ServiceDb> m_db;
    QByteArray m_token;  // "Bearer ..." of a viewer
};

TEST_F(MetricsTest, ScrapesFollowTerminalsDownloadsAndRequests) {
    const double startedBefore = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    m_service.setParam("OperatorLogin", 1);
    m_service.setParam("MaxConnCount", 1);
    m_service.setParam("UpgradeStallMinutes", 0.02);
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    m_db = std::make_unique<ServiceDb>(m_service.path("WFS.db"));
    const Login admin = takeOverAdmin(m_service, "admin-secret");
    ASSERT_TRUE(admin.valid());
    const HttpResponse token =
        httpRequest(m_service.httpPort(), "POST", "/KORVA/v2/tokens", admin.headers(),
                    R"({"name":"scraper","role":"viewer","expiresInDays":1})");
    ASSERT_EQ(token.status, 201) << token.body.constData();
    m_token = "Bearer " + jsonObject(token.body).value("token").toString().toLatin1();

    // Without a login nothing is told; the refusal itself is counted.
    EXPECT_EQ(httpGet(m_service.httpPort(), "/metrics").status, 401);
    // The start-up's one probe of the terminal port has come and gone before counting starts.
    ASSERT_TRUE(becomes("wayfarer_terminal_connections_accepted_total", {}, 1));
    ASSERT_TRUE(becomes("wayfarer_terminals_connected", {}, 0));
    const MetricsText before = scrape();

    const QString t1 = addPackage("T1", "pkg-t1.bin", 300000);
    const QString t2 = addPackage("T2", "pkg-t2.bin", 16 * 1024 * 1024);
    const Labels pkg1{{"package_id", t1.toLatin1()}, {"package_name", "pkg-t1.bin"}};
    const Labels pkg2{{"package_id", t2.toLatin1()}, {"package_name", "pkg-t2.bin"}};

    // A whole upgrade, its download broken and resumed. One connection fits at a time: each
    // run waits for the one before to be gone.
    TerminalRun run = runTerminal(terminal("M-UP", "T1", "upgrade") << "--break-at"
                                                                    << "70000");
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    ASSERT_TRUE(becomes("wayfarer_terminals_connected", {}, 0));
    // A terminal pinned to its device ID, then another unit claiming its serial number.
    ASSERT_TRUE(m_db->exec("insert into Tab_DeviceInfo(devSN,devType) values('M-PIN','T9')"));
    run = runTerminal(terminal("M-PIN", "T9", "none") << "--dev-id"
                                                      << "REAL-ID"
                                                      << "--reports"
                                                      << "2");
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    ASSERT_TRUE(becomes("wayfarer_terminals_connected", {}, 0));
    run = runTerminal(terminal("M-PIN", "T9", "none") << "--dev-id"
                                                      << "FAKE-ID");
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    ASSERT_TRUE(becomes("wayfarer_terminals_connected", {}, 0));

    // A terminal that sends a packet with a broken check code, then takes an upgrade and goes
    // quiet; it keeps the one connection, so the next newcomer is refused.
    FakeTerminal quiet;
    ASSERT_TRUE(quiet.connectTo(m_service.tcpPort()));
    DeviceReport identity;
    identity.devSN = "M-QUIET";
    identity.devType = "T2";
    identity.AppVersion = kOld;
    QByteArray broken =
        TerminalPackets::frame(0x0001, "Q-ID", 1, TerminalPackets::reportBody(identity, false));
    broken[broken.size() - 1] = static_cast<char>(broken[broken.size() - 1] ^ 0x5A);
    ASSERT_TRUE(quiet.write(broken));
    ASSERT_TRUE(quiet.write(
        TerminalPackets::frame(0x0001, "Q-ID", 2, TerminalPackets::reportBody(identity, false))));
    ASSERT_TRUE(quiet.waitForData(40));
    const int length = 42 + ((quint8(quiet.received()[38]) << 8) | quint8(quiet.received()[39]));
    ASSERT_TRUE(quiet.waitForData(length));
    SocketPacket answer;
    ASSERT_EQ(SocketPacketHandler().DataParse(quiet.take(length), answer), 0);
    quint32 flag = 0;
    QString url;
    ASSERT_TRUE(TerminalPackets::parseUpgradeAnswer(answer.data, flag, url));
    ASSERT_EQ(flag, 1u);
    FakeTerminal newcomer;
    ASSERT_TRUE(newcomer.connectTo(m_service.tcpPort()));
    EXPECT_TRUE(newcomer.waitForDisconnect(10000));

    // Its package, asked for and not read: a download in progress until the client goes.
    {
        StuckDownload stuck(m_service.httpPort2(), QUrl(url).path().toLatin1());
        ASSERT_TRUE(stuck.sent());
        EXPECT_TRUE(becomes("wayfarer_downloads_active", {}, 1));
    }
    EXPECT_TRUE(becomes("wayfarer_downloads_active", {}, 0));
    EXPECT_EQ(httpGet(m_service.httpPort2(), "/KORVA/dlPackage/none.bin").status, 404);

    // Management requests of four route classes; the raw URLs never become labels.
    const Headers viewer{{"Authorization", m_token}};
    EXPECT_EQ(httpGet(m_service.httpPort(), "/KORVA/v2/devices", viewer).status, 200);
    EXPECT_EQ(httpGet(m_service.httpPort(), "/KORVA/v2/devices/NOPE-123", viewer).status, 404);
    EXPECT_EQ(httpGet(m_service.httpPort(), "/KORVA/v2/nothing/here", viewer).status, 404);
    EXPECT_EQ(httpGet(m_service.httpPort(), "/KORVA/deviceList", viewer).status, 200);

    // A wrong password; a command waiting for the pinned terminal.
    EXPECT_EQ(httpRequest(m_service.httpPort(), "POST", "/KORVA/v2/auth/login", {},
                          R"({"name":"admin","password":"wrong"})")
                  .status,
              401);
    ASSERT_TRUE(m_db->exec("update Tab_DeviceInfo set ConfigCmd='reboot' where devSN='M-PIN'"));

    // The quiet terminal's upgrade counts as stalled once the stall time has passed.
    EXPECT_TRUE(becomes("wayfarer_upgrades_stalled", pkg2, 1));
    const MetricsText after = scrape();

    for (const auto& family : kFamilies) {
        EXPECT_EQ(after.type(family.first), QByteArray(family.second)) << family.first;
    }
    for (auto it = after.families().cbegin(); it != after.families().cend(); ++it) {
        EXPECT_TRUE(it.key().startsWith("wayfarer_")) << it.key().constData();
        if (it->type == "counter") {
            EXPECT_TRUE(it.key().endsWith("_total")) << it.key().constData();
        }
    }
    const auto moved = [&](const QByteArray& name, const Labels& labels) {
        return after.value(name, labels, 0) - before.value(name, labels, 0);
    };
    const auto kind = [](const char* value) { return Labels{{"kind", value}}; };

    // The link: five reports with a valid check code, one without; two upgrades offered, three
    // reports answered without one; the impostor refused; four connections in, one turned away.
    const QByteArray received = "wayfarer_terminal_packets_received_total";
    const QByteArray sent = "wayfarer_terminal_packets_sent_total";
    const QByteArray refused = "wayfarer_terminal_packets_refused_total";
    EXPECT_EQ(moved(received, kind("report")), 5);
    EXPECT_EQ(moved(received, kind("progress")), 4);  // the simulator's 25, 50, 75, 100
    EXPECT_EQ(moved(sent, kind("upgrade_offered")), 2);
    EXPECT_EQ(moved(sent, kind("no_upgrade")), 3);
    EXPECT_EQ(moved(sent, kind("progress_poll")), 5);  // one per offer, one after each step < 100
    EXPECT_EQ(moved(refused, {{"reason", "bad_check_code"}}), 1);
    EXPECT_EQ(moved(refused, {{"reason", "impostor"}}), 1);
    EXPECT_EQ(after.sum(refused) - before.sum(refused), 2);
    EXPECT_EQ(moved("wayfarer_terminal_connections_accepted_total", {}), 4);
    EXPECT_EQ(moved("wayfarer_terminal_connections_refused_total", {}), 1);
    EXPECT_EQ(after.value("wayfarer_terminals_connected"), 1);
    EXPECT_EQ(after.sum("wayfarer_terminals_online"), 1);
    // Every report but the broken one answered, each timed.
    EXPECT_EQ(moved("wayfarer_terminal_report_answer_duration_seconds_count", {}), 5);
    EXPECT_EQ(moved("wayfarer_login_failures_total", {{"reason", "wrong_password"}}), 1);
    EXPECT_EQ(after.value("wayfarer_requests_pending", kind("command")), 1);

    // Upgrades per package: the first done, the second stalled.
    EXPECT_EQ(after.value("wayfarer_upgrades_started_total", pkg1), 1);
    EXPECT_EQ(after.value("wayfarer_upgrades_completed_total", pkg1), 1);
    EXPECT_EQ(after.value("wayfarer_upgrades_stalled", pkg1), 0);
    EXPECT_EQ(after.value("wayfarer_upgrades_started_total", pkg2), 1);
    EXPECT_EQ(after.value("wayfarer_upgrades_completed_total", pkg2), 0);

    // The download port: the broken download, its resumption and the unread one; one 404.
    const QByteArray bytes = "wayfarer_download_sent_bytes_total";
    EXPECT_EQ(moved("wayfarer_download_requests_total", {{"status_class", "2xx"}}), 3);
    EXPECT_EQ(moved("wayfarer_download_requests_total", {{"status_class", "4xx"}}), 1);
    EXPECT_GE(moved(bytes, {{"status_class", "2xx"}}), 300000);
    EXPECT_GT(moved(bytes, {{"status_class", "4xx"}}), 0);
    EXPECT_EQ(moved(bytes, {{"status_class", "5xx"}}), 0);

    // The management port by route class, and each request timed under its class.
    const QByteArray requests = "wayfarer_http_requests_total";
    const QByteArray durations = "wayfarer_http_request_duration_seconds_count";
    EXPECT_EQ(moved(requests, {{"route", "/KORVA/v2/devices"}, {"code", "200"}}), 1);
    EXPECT_EQ(moved(requests, {{"route", "/KORVA/v2/devices/{devSN}"}, {"code", "404"}}), 1);
    EXPECT_EQ(moved(requests, {{"route", "v2_unrouted"}, {"code", "404"}}), 1);
    EXPECT_EQ(moved(requests, {{"route", "device_list"}, {"code", "200"}}), 1);
    EXPECT_EQ(after.value(requests, {{"route", "metrics"}, {"code", "401"}}), 1);
    EXPECT_EQ(moved(durations, {{"route", "/KORVA/v2/devices"}}), 1);
    EXPECT_EQ(after.sum(durations), after.sum(requests));
    for (const MetricsText::Sample& sample : after.families().value(requests).samples)
        EXPECT_FALSE(sample.labels.value("route").contains("NOPE"))
            << sample.labels.value("route").constData();

    // The database was used by all of it; the pool's waits are counted whether or not any came.
    EXPECT_GT(moved("wayfarer_db_call_duration_seconds_count", {}), 10);
    EXPECT_EQ(after.value("wayfarer_db_pool_waits_total"),
              after.value("wayfarer_db_pool_wait_duration_seconds_count"));

    // The process as the system sees it.
    const double fds = after.value("wayfarer_process_open_fds");
    EXPECT_GT(fds, 5);
    EXPECT_LE(fds, after.value("wayfarer_process_max_fds"));
    EXPECT_GE(after.value("wayfarer_process_threads"), 4);
    EXPECT_GT(after.value("wayfarer_process_resident_memory_bytes"), 1 << 20);
    EXPECT_GT(after.value("wayfarer_process_cpu_seconds_total"), 0);
    const double started = after.value("wayfarer_process_start_time_seconds");
    EXPECT_GE(started, startedBefore - 2);
    EXPECT_LE(started, QDateTime::currentMSecsSinceEpoch() / 1000.0);
    EXPECT_EQ(after.value("wayfarer_build_info", {{"version", WAYFARER_VERSION}}), 1);
}

// A package id that a later package takes over counts under the later name from then on.
TEST_F(MetricsTest, ReusedPackageIdCountsUnderItsNewName) {
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    m_db = std::make_unique<ServiceDb>(m_service.path("WFS.db"));
    const QString id = addPackage("T1", "first.bin", 1000);
    ASSERT_EQ(runTerminal(terminal("M-A", "T1", "upgrade")).exitCode, 0);
    ASSERT_TRUE(m_db->exec("update Tab_Package set packageName='second.bin' where id=" + id));
    ASSERT_EQ(runTerminal(terminal("M-B", "T1", "upgrade")).exitCode, 0);
    const Labels first{{"package_id", id.toLatin1()}, {"package_name", "first.bin"}};
    const Labels second{{"package_id", id.toLatin1()}, {"package_name", "second.bin"}};
    ASSERT_TRUE(becomes("wayfarer_upgrades_completed_total", second, 1));
    const MetricsText text = scrape();
    EXPECT_EQ(text.value("wayfarer_upgrades_started_total", first), 1);
    EXPECT_EQ(text.value("wayfarer_upgrades_completed_total", first), 1);
    EXPECT_EQ(text.value("wayfarer_upgrades_started_total", second), 1);
}

TEST_F(MetricsTest, OpenWithoutLogins) {
    m_service.setParam("OperatorLogin", 0);
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    const MetricsText text = scrape();
    EXPECT_EQ(text.type("wayfarer_http_requests_total"), "counter");
    // The start-up's probe of the terminal port goes away.
    EXPECT_TRUE(becomes("wayfarer_terminals_connected", {}, 0));
    // Only the exact path is the metrics; any other method is refused with Allow.
    EXPECT_FALSE(httpGet(m_service.httpPort(), "/metrics/x").body.contains("# TYPE"));
    const HttpResponse post = httpRequest(m_service.httpPort(), "POST", "/metrics");
    EXPECT_EQ(post.status, 405);
    EXPECT_EQ(post.header("Allow"), "GET");
}

}  // namespace
