// The real executable, started from a temporary copy of itself.
#include <signal.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>

#include "tests/support/HttpClient.h"
#include "tests/support/ServiceProcess.h"

namespace {
bool hasLogFile(const ServiceProcess& service) {
    return !QDir(service.path("WFSLog")).entryList({"WFSLog_*.log"}, QDir::Files).isEmpty();
}

bool privateNetworkAvailable() {
    QProcess probe;
    probe.start("unshare", {"--net", "--", "true"});
    return probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

TEST(Startup, FirstStartWritesConfigAndOpensNamedLogFile) {
    // Without config.ini the service takes the default ports; in a network namespace of its
    // own they are not the host's, which other tests and services share.
    if (!privateNetworkAvailable())
        GTEST_SKIP() << "unshare --net is not available here (it needs root); the first start "
                        "would bind the default ports 80, 8001 and 10022 of the host";
    ServiceProcess service;
    service.setLauncher({"unshare", "--net", "--"});
    ASSERT_TRUE(service.start(/*writeConfig=*/false, /*waitForPorts=*/false));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(service.path("config.ini")); }));
    ASSERT_TRUE(waitUntil([&] { return hasLogFile(service); }));
    EXPECT_TRUE(waitUntil([&] { return service.output().contains("Tcp Server start OK! 10022"); }))
        << service.output().toStdString();

    QSettings settings(service.path("config.ini"), QSettings::IniFormat);
    EXPECT_EQ(settings.childGroups(), QStringList({"LocalParam"}));
    settings.beginGroup("LocalParam");
    QStringList keys = settings.childKeys();
    keys.sort();
    EXPECT_EQ(keys, QStringList({"HttpPort", "HttpPort2", "HttpRecvTimeOut", "HttpSendTimeOut",
                                 "ManualMode", "MaxConnCount", "TcpPort"}));
    EXPECT_EQ(settings.value("TcpPort").toInt(), 10022);

    const QStringList logs = QDir(service.path("WFSLog")).entryList({"*"}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^WFSLog_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}_\d{3}\.log$)")
                    .match(logs[0])
                    .hasMatch());
    EXPECT_TRUE(QDir(service.path("ExceptionDump")).exists());
    // The start-up and schema lines are in the file, not on the console alone.
    QFile log(service.path("WFSLog/" + logs[0]));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    for (const char* line : {"[start] Wayfarer ", "[DbSchema] applied step 1:",
                             "[DbSchema] database schema at step", "Tcp Server start OK! 10022"})
        EXPECT_TRUE(text.contains(line)) << line << "\n" << text.toStdString();

    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "startup-check");
        db.setDatabaseName(service.path("WFS.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery query("select name from sqlite_master where type='table' order by name", db);
        QStringList tables;
        while (query.next()) tables << query.value(0).toString();
        EXPECT_TRUE(tables.contains("Tab_DeviceInfo")) << tables.join(",").toStdString();
        EXPECT_TRUE(tables.contains("Tab_Package")) << tables.join(",").toStdString();
    }
    QSqlDatabase::removeDatabase("startup-check");
}

TEST(Startup, InterruptKeepsRunningOtherConsoleSignalsEndTheProcess) {
    const struct {
        int sig;
        const char* line;
    } endings[] = {
        {SIGTERM, "CTRL_SHUTDOWN_EVENT"}, {SIGQUIT, "CTRL_BREAK_EVENT"}, {SIGHUP, "ctrl close"}};
    for (const auto& ending : endings) {
        ServiceProcess service;
        ASSERT_TRUE(service.start(true, false));
        ASSERT_TRUE(waitUntil([&] { return hasLogFile(service); }));

        service.sendSignal(SIGINT);
        ASSERT_TRUE(waitUntil([&] { return service.output().contains("ctrl+c\n"); }));
        service.sendSignal(SIGINT);
        ASSERT_TRUE(waitUntil([&] { return service.output().count("ctrl+c\n") == 2; }));
        EXPECT_TRUE(service.running());

        service.sendSignal(ending.sig);
        ASSERT_TRUE(service.waitForExit()) << ending.line;
        EXPECT_EQ(service.exitStatus(), QProcess::CrashExit);  // ended by the signal
        EXPECT_TRUE(service.output().contains(QByteArray(ending.line) + "\n")) << ending.line;
    }
}

// Every fatal signal a library may raise, GLib's trap on a fatal error among them, leaves a dump.
TEST(Startup, CrashLeavesExactlyOneGuidNamedDump) {
    for (int sig : {SIGSEGV, SIGTRAP, SIGABRT, SIGSYS, SIGXCPU, SIGXFSZ}) {
        ServiceProcess service;
        ASSERT_TRUE(service.start(true, false));
        ASSERT_TRUE(waitUntil([&] { return hasLogFile(service); }));
        service.sendSignal(sig);
        ASSERT_TRUE(service.waitForExit()) << sig;
        EXPECT_EQ(service.exitStatus(), QProcess::CrashExit) << sig;

        const QStringList dumps = QDir(service.path("ExceptionDump")).entryList(QDir::Files);
        ASSERT_EQ(dumps.size(), 1) << sig;
        EXPECT_TRUE(
            QRegularExpression(
                R"(^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\.dmp$)")
                .match(dumps[0])
                .hasMatch())
            << dumps[0].toStdString();
        QFile dump(service.path("ExceptionDump/" + dumps[0]));
        ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
        const QByteArray text = dump.readAll();
        EXPECT_TRUE(text.startsWith("signal: " + QByteArray::number(sig) + " "))
            << text.toStdString();
        EXPECT_TRUE(text.contains("fault address: 0x"));
        EXPECT_TRUE(text.contains("backtrace:\n"));
    }
}

TEST(Startup, UnwritableLogDirectoryEndsStartUpWithAMessage) {
    ServiceProcess service;
    QFile blocker(service.path("WFSLog"));  // a file where the log directory should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(service.start(true, false));
    ASSERT_TRUE(service.waitForExit());
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(service.exitCode(), 0);
    EXPECT_TRUE(service.output().contains("Failed opening file "))
        << service.output().toStdString();
}
TEST(Startup, EmptiesTheExchangeDirectoryAndServesOnlyBoundDownloads) {
    ServiceProcess service;
    QDir(service.appDir()).mkpath("Excel/old/deeper");
    for (const char* name : {"Excel/a.csv", "Excel/old/b.csv", "Excel/old/deeper/c.csv"}) {
        QFile file(service.path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(service.start());
    EXPECT_TRUE(waitUntil([&] {
        return QDir(service.path("Excel"))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
            .isEmpty();
    }));
    EXPECT_TRUE(QDir(service.path("Excel")).exists());

    // Nothing of the application directory is reachable on the download port.
    for (const QByteArray target : {"/WFS.db", "/config.ini", "/"})
        EXPECT_EQ(httpGet(service.httpPort2(), target).status, 404) << target.constData();
    EXPECT_TRUE(waitUntil([&] {
        return service.output().contains("[start] Tcp Server start OK! " +
                                         QByteArray::number(service.tcpPort()));
    }));
}

TEST(Startup, TakenTcpPortIsReportedAndTheServiceGoesOn) {
    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::Any, 0));
    ServiceProcess service;
    service.setParam("TcpPort", blocker.serverPort());
    ASSERT_TRUE(service.start(true, false));
    EXPECT_TRUE(waitUntil([&] {
        return service.output().contains("[start] Tcp Server start failed! " +
                                         QByteArray::number(blocker.serverPort()));
    }));
    EXPECT_EQ(httpGet(service.httpPort2(), "/nothing").status, 404);  // the other listener answers
    EXPECT_TRUE(service.running());
}
}  // namespace
