// The real service on PostgreSQL: a single host's WFS.db moved there with everything an operator
// sees, and several instances starting together on an empty database.
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include "tests/db/PgCluster.h"
#include "tests/support/Login.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/TerminalRun.h"

namespace {
// One cluster for the tests here; each test makes a database of its own in it.
class PgServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir =
            QDir::tempPath() + "/wayfarer-pg-move-" + QUuid::createUuid().toString(QUuid::Id128);
        s_cluster = std::make_unique<PgCluster>(s_dir);
        s_ready = s_cluster->start(s_skip, s_why);
    }
    static void TearDownTestSuite() { s_cluster.reset(); }
    void SetUp() override {
        if (s_skip) GTEST_SKIP() << s_why.toStdString();
        ASSERT_TRUE(s_ready) << s_why.toStdString();
    }

    static void usePostgres(ServiceProcess& service, const QString& database) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "pg-move-admin");
            db.setHostName(s_dir);
            db.setUserName("wayfarer");
            db.setDatabaseName("postgres");
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec("create database " + database);
        }
        QSqlDatabase::removeDatabase("pg-move-admin");
        for (const auto& [key, value] : std::vector<std::pair<QString, QVariant>>{
                 {"DbDriver", "postgresql"}, {"DbHost", s_dir}, {"DbName", database}})
            service.setParam(key, value);
    }

    static inline QString s_dir;
    static inline std::unique_ptr<PgCluster> s_cluster;
    static inline bool s_ready = false;
    static inline bool s_skip = false;
    static inline QString s_why;
};

// The migration command run in the service's directory: its exit code and output.
QPair<int, QByteArray> migrate(ServiceProcess& service) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(service.path("wayfarer"), {QStringLiteral("--migrate-to-postgresql")});
    const bool ended = tool.waitForFinished(60000);
    return {ended ? tool.exitCode() : -1, tool.readAll()};
}

TEST_F(PgServiceTest, SingleHostMovesToPostgreSQLWithAllAnOperatorSees) {
    ServiceProcess service;
    service.setParam("OperatorLogin", 1);
    ASSERT_TRUE(service.start()) << service.output().constData();
    const quint16 port = service.httpPort();
    const Login admin = takeOverAdmin(service, "admin-moved-1");
    ASSERT_TRUE(admin.valid());
    ASSERT_TRUE(makeAccount(port, admin, "op", "operator").valid());
    const HttpResponse token = httpRequest(port, "POST", "/KORVA/v2/tokens", admin.headers(),
                                           R"({"name":"ci","role":"viewer"})");
    ASSERT_EQ(token.status, 201) << token.body.constData();
    ASSERT_EQ(httpRequest(port, "POST",
                          "/KORVA/uploadFile?name=p.bin&app=V2&type=T1&blockIndex=0&blockSize=1&"
                          "totalLength=5000&uploadTime=20260101",
                          admin.headers(), QByteArray(5000, 'p'))
                  .status,
              200);
    // Upgraded, then judged at its report with the new version.
    const QStringList terminal{
        "--port", QString::number(service.tcpPort()), "--sn", "MV-1", "--type", "T1", "--timeout",
        "10000"};
    const TerminalRun upgraded =
        runTerminal(terminal + QStringList{"--app", "V1", "--expect", "upgrade"});
    ASSERT_EQ(upgraded.exitCode, 0) << upgraded.output.toStdString();
    ASSERT_EQ(runTerminal(terminal + QStringList{"--app", "V2", "--expect", "none"}).exitCode, 0);

    const QList<QByteArray> views{
        "/KORVA/v2/devices", "/KORVA/v2/devices/MV-1", "/KORVA/v2/packages", "/KORVA/v2/accounts",
        "/KORVA/v2/tokens",  "/KORVA/v2/upgrades",     "/KORVA/v2/audit"};
    const auto look = [&] {
        QList<QByteArray> seen;
        for (const QByteArray& view : views)
            seen << httpRequest(port, "GET", view, admin.headers()).body;
        return seen;
    };
    QList<QByteArray> before;
    ASSERT_TRUE(waitUntil([&] {
        before = look();
        return before[1].contains("\"presence\":null") && before[5].contains("succeeded");
    })) << before[1].constData()
        << before[5].constData();
    service.stop();

    usePostgres(service, QStringLiteral("moved"));
    service.writeConfig();
    const auto moved = migrate(service);
    ASSERT_EQ(moved.first, 0) << moved.second.constData();

    ASSERT_TRUE(service.start()) << service.output().constData();
    // The same session, the same replies.
    EXPECT_EQ(look(), before);
    const QByteArray secret = QJsonDocument::fromJson(token.body)["token"].toString().toLatin1();
    EXPECT_EQ(httpRequest(port, "GET", "/KORVA/v2/auth/me", {{"Authorization", "Bearer " + secret}})
                  .status,
              200);
    // Keys the server assigns go on after the copied ones.
    EXPECT_TRUE(makeAccount(port, admin, "op2", "operator").valid());
    // A second run finds the database in use and leaves it.
    const auto again = migrate(service);
    EXPECT_EQ(again.first, 1);
    EXPECT_TRUE(again.second.contains("not empty")) << again.second.constData();
}

TEST_F(PgServiceTest, InstancesStartingTogetherShareOneFirstAccount) {
    QTemporaryDir shared;
    const QString handover = shared.filePath(QStringLiteral("initial-admin-password"));
    std::vector<std::unique_ptr<ServiceProcess>> services;
    for (int i = 0; i < 3; ++i) {
        services.push_back(std::make_unique<ServiceProcess>());
        services.back()->setParam("OperatorLogin", 1);
        services.back()->setParam("InitialPasswordFile", handover);
        usePostgres(*services.back(), QStringLiteral("together"));
    }
    for (auto& service : services) ASSERT_TRUE(service->launch());
    for (auto& service : services)
        EXPECT_TRUE(service->waitUntilUp()) << service->output().constData();
    QFile file(handover);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString password = QString::fromUtf8(file.readAll()).trimmed();
    for (auto& service : services)
        EXPECT_TRUE(logIn(service->httpPort(), "admin", password).valid());
    EXPECT_EQ(QDir(shared.path()).entryList(QDir::Files), QStringList{"initial-admin-password"});
}
}  // namespace
