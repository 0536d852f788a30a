// The real service on PostgreSQL while the server stops and starts again: operators are told to
// come back (503, Retry-After) instead of being logged out or locked out, downloads go on, the
// metrics and the readiness route show the outage, and the sessions from before work after it.
#include <QDir>
#include <QUuid>

#include "tests/db/PgCluster.h"
#include "tests/support/Login.h"
#include "tests/support/MetricsText.h"
#include "tests/support/WebServiceFixture.h"

namespace {
double databaseUp(quint16 port, const QByteArray& token) {
    const HttpResponse reply = httpGet(port, "/metrics", {{"Authorization", token}});
    MetricsText metrics;
    QString error;
    if (reply.status != 200 || !metrics.parse(reply.body, error)) return -1;
    return metrics.value("wayfarer_database_up");
}
}  // namespace

TEST(DatabaseOutage, OperatorsWaitDownloadsGoOnAndHealthTellsIt) {
    const QString socketDir = PgCluster::freshDir();
    PgCluster cluster(socketDir);
    START_PG_CLUSTER(cluster);
    ServiceProcess service;
    cluster.serve(service);
    service.setParam(QStringLiteral("OperatorLogin"), 1);
    ASSERT_TRUE(service.start()) << service.output().toStdString();
    const quint16 port = service.httpPort();
    const Login admin = takeOverAdmin(service, "admin-secret");
    ASSERT_TRUE(admin.valid()) << service.output().toStdString();
    const HttpResponse created = httpRequest(port, "POST", "/KORVA/v2/tokens", admin.headers(),
                                             R"({"name":"scraper","role":"viewer"})");
    ASSERT_EQ(created.status, 201) << created.body.constData();
    const QByteArray token =
        "Bearer " + jsonObject(created.body).value("token").toString().toLatin1();

    const QByteArray package = patternBytes(4096, 3);
    const HttpResponse uploaded = httpRequest(
        port, "POST",
        "/KORVA/uploadFile?name=a.bin&app=V2&type=T1&blockIndex=0&blockSize=1&totalLength=4096"
        "&uploadTime=20260101",
        {{"Cookie", admin.cookie},
         {"X-CSRF-Token", admin.csrf},
         {"Content-Type", "application/octet-stream"}},
        package);
    ASSERT_EQ(uploaded.status, 200) << uploaded.body.constData();
    const QByteArray download = "/KORVA/dlPackage/T1/20260101_a.bin";
    ASSERT_EQ(httpGet(service.httpPort2(), download).body, package);
    EXPECT_EQ(httpGet(port, "/ready").status, 200);
    EXPECT_EQ(databaseUp(port, token), 1);

    ASSERT_TRUE(cluster.pause());
    ASSERT_TRUE(waitUntil([&] { return httpGet(port, "/ready").status == 503; }, 30000));
    EXPECT_EQ(httpGet(port, "/ready").body, "database unreachable\n");
    const QByteArray login = R"({"name":"admin","password":"admin-secret"})";
    const struct {
        const char* what;
        QByteArray method;
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    } refused[] = {
        {"session, v2", "GET", "/KORVA/v2/auth/me", admin.headers(), {}},
        {"session, old route", "GET", "/KORVA/packageList", admin.headers(), {}},
        {"session, change", "POST", "/KORVA/v2/tokens", admin.headers(), R"({"name":"x"})"},
        {"token", "GET", "/KORVA/v2/devices", {{"Authorization", token}}, {}},
    };
    for (const auto& r : refused) {
        const HttpResponse reply = httpRequest(port, r.method, r.target, r.headers, r.body);
        EXPECT_EQ(reply.status, 503) << r.what;
        EXPECT_FALSE(reply.header("Retry-After").isEmpty()) << r.what;
    }
    // More than the failures that lock an account: none of them counts.
    for (int attempt = 0; attempt < 7; ++attempt) {
        const HttpResponse reply = httpRequest(port, "POST", "/KORVA/v2/auth/login",
                                               {{"Content-Type", "application/json"}}, login);
        EXPECT_EQ(reply.status, 503) << "login " << attempt;
        EXPECT_FALSE(reply.header("Retry-After").isEmpty());
    }
    EXPECT_EQ(httpGet(service.httpPort2(), download).body, package);
    EXPECT_EQ(databaseUp(port, token), 0);

    ASSERT_TRUE(cluster.resume());
    ASSERT_TRUE(waitUntil([&] { return httpGet(port, "/ready").status == 200; }, 30000))
        << service.output().toStdString();
    EXPECT_EQ(httpGet(port, "/KORVA/v2/auth/me", admin.headers()).status, 200);
    EXPECT_TRUE(logIn(port, "admin", "admin-secret").valid());
    EXPECT_EQ(databaseUp(port, token), 1);
}
