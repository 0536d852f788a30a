// Logins, roles, sessions, tokens, the audit trail and HTTPS of the management server, from
// outside: the real service over real HTTP(S).
#include <sys/stat.h>

#include <thread>
#include <vector>

#include <QElapsedTimer>

#include "tests/support/Login.h"
#include "tests/support/WebServiceFixture.h"

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

QByteArray errorCode(const HttpResponse& r) {
    return jsonObject(r.body).value("error").toObject().value("code").toString().toLatin1();
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// One service with logins on for the whole suite: the admin has taken over, an operator and a
// viewer exist, each with a session, and one token per role.
class AccessControlTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new ServiceProcess();
        s_service->setParam("OperatorLogin", 1);
        ASSERT_TRUE(s_service->start()) << s_service->output().constData();
        ServiceDb(s_service->path("WFS.db"))
            .exec("insert into Tab_DeviceInfo(devId,devSN,devType) values('D1','SN1','T1')");
        s_admin = takeOverAdmin(*s_service, "admin-secret");
        ASSERT_TRUE(s_admin.valid());
        s_viewer = makeAccount(s_admin, "viewer1", "viewer");
        s_operator = makeAccount(s_admin, "operator1", "operator");
        s_viewerToken = makeToken(s_admin, "script-view", "viewer");
        s_operatorToken = makeToken(s_admin, "script-ops", "operator");
    }
    static void TearDownTestSuite() {
        delete s_service;
        s_service = nullptr;
    }
    static quint16 port() { return s_service->httpPort(); }
    static HttpResponse call(const QByteArray& method, const QByteArray& target,
                             const Headers& headers = {}, const QByteArray& body = {}) {
        return httpRequest(port(), method, target, headers, body);
    }
    // An account made by the admin and taken over by its owner (the forced first change).
    static Login makeAccount(const Login& admin, const QString& name, const char* role) {
        const HttpResponse created =
            call("POST", "/KORVA/v2/accounts", admin.headers(),
                 json({{"name", name}, {"role", role}, {"password", "handed-over"}}));
        EXPECT_EQ(created.status, 201) << created.body.constData();
        const Login login = logIn(port(), name, "handed-over");
        const HttpResponse changed =
            call("POST", "/KORVA/v2/auth/password", login.headers(),
                 json({{"currentPassword", "handed-over"}, {"newPassword", name + "-secret"}}));
        EXPECT_EQ(changed.status, 200) << changed.body.constData();
        return login;
    }
    static QByteArray makeToken(const Login& admin, const char* name, const char* role) {
        const HttpResponse r = call("POST", "/KORVA/v2/tokens", admin.headers(),
                                    json({{"name", name}, {"role", role}, {"expiresInDays", 1}}));
        EXPECT_EQ(r.status, 201) << r.body.constData();
        return "Bearer " + jsonObject(r.body).value("token").toString().toLatin1();
    }
    static QJsonArray audit(const Login& admin, const QByteArray& query) {
        const HttpResponse r = call("GET", "/KORVA/v2/audit?" + query, admin.headers());
        EXPECT_EQ(r.status, 200) << r.body.constData();
        return jsonObject(r.body).value("entries").toArray();
    }

    static ServiceProcess* s_service;
    static Login s_admin, s_viewer, s_operator;
    static QByteArray s_viewerToken, s_operatorToken;  // "Bearer ..."
};
ServiceProcess* AccessControlTest::s_service = nullptr;
Login AccessControlTest::s_admin, AccessControlTest::s_viewer, AccessControlTest::s_operator;
QByteArray AccessControlTest::s_viewerToken, AccessControlTest::s_operatorToken;

TEST_F(AccessControlTest, EachRoleAgainstEachRouteClass) {
    const Login& viewer = s_viewer;
    const Login& operatorLogin = s_operator;
    const QByteArray& viewerToken = s_viewerToken;
    const QByteArray& operatorToken = s_operatorToken;

    enum Level { None, Viewer, Operator, Admin };
    const struct {
        const char* who;
        Headers headers;
        Level level;
    } callers[] = {
        {"anonymous", {}, None},
        {"unknown token", {{"Authorization", "Bearer wft_nothing"}}, None},
        {"viewer", viewer.headers(), Viewer},
        {"viewer token", {{"Authorization", viewerToken}}, Viewer},
        {"operator", operatorLogin.headers(), Operator},
        {"operator token", {{"Authorization", operatorToken}}, Operator},
        {"admin", s_admin.headers(), Admin},
    };
    const struct {
        QByteArray method, target, body;
        Level needs;
        int allowed;  // status once admitted; 0: anything but 401 and 403
    } routes[] = {
        {"GET", "/", {}, None, 200},
        {"GET", "/test", {}, None, 200},
        {"GET", "/KORVA/deviceList", {}, Viewer, 200},
        // Routed by substring: a URL that only contains a route is still that route.
        {"GET", "/x?/KORVA/deviceList", {}, Viewer, 200},
        {"GET", "/KORVA/packageList", {}, Viewer, 200},
        {"GET", "/KORVA/getProgress", {}, Viewer, 200},
        {"GET", "/KORVA/downLoadExcel", {}, Viewer, 200},
        {"GET", "/KORVA/dlPackage/T1/none.bin", {}, Viewer, 0},
        {"GET", "/KORVA/v2/status", {}, Viewer, 200},
        {"POST", "/KORVA/uploadFile?name=a.bin&type=TA&blockIndex=0&blockSize=1&totalLength=4",
         "abcd", Operator, 200},
        {"POST", "/KORVA/uploadExcel?name=list.xlsx", "x", Operator, 501},
        {"PUT", "/KORVA/deletePackage", "{\"id\":999}", Operator, 501},
        {"PUT", "/KORVA/stopUpload", {}, Operator, 200},
        {"GET", "/KORVA/v2/accounts", {}, Admin, 200},
        {"GET", "/KORVA/v2/tokens", {}, Admin, 200},
        {"GET", "/KORVA/v2/audit", {}, Admin, 200},
    };
    for (const auto& caller : callers) {
        for (const auto& route : routes) {
            const HttpResponse r = call(route.method, route.target, caller.headers, route.body);
            const std::string what = std::string(caller.who) + " " + route.method.constData() +
                                     " " + route.target.constData();
            if (caller.level < route.needs) {
                EXPECT_EQ(r.status, caller.level == None ? 401 : 403) << what;
                EXPECT_FALSE(errorCode(r).isEmpty()) << what;
            } else if (route.allowed) {
                EXPECT_EQ(r.status, route.allowed) << what;
            } else {
                EXPECT_TRUE(r.ok && r.status != 401 && r.status != 403) << what;
            }
        }
    }

    // A session's change without its CSRF token, or with another's, is refused; tokens need none.
    Headers wrong = operatorLogin.headers(false);
    wrong.append({"X-CSRF-Token", viewer.csrf});
    for (const Headers& headers : {operatorLogin.headers(false), wrong}) {
        const HttpResponse r = call("PUT", "/KORVA/stopUpload", headers);
        EXPECT_EQ(r.status, 403);
        EXPECT_EQ(errorCode(r), "csrf");
    }
    EXPECT_EQ(call("POST", "/KORVA/v2/tokens", s_admin.headers(false),
                   json({{"name", "x"}, {"role", "viewer"}}))
                  .status,
              403);

    // Tokens are listed without their secrets; a revoked one no longer opens anything.
    const HttpResponse listed = call("GET", "/KORVA/v2/tokens", s_admin.headers());
    EXPECT_FALSE(listed.body.contains(viewerToken.mid(7)));
    EXPECT_FALSE(listed.body.contains("\"token\""));
    const QJsonArray tokens = jsonObject(listed.body).value("tokens").toArray();
    ASSERT_EQ(tokens.size(), 2);
    const QByteArray id = QByteArray::number(tokens[0].toObject().value("id").toInt());
    EXPECT_EQ(call("DELETE", "/KORVA/v2/tokens/" + id, s_admin.headers()).status, 204);
    EXPECT_EQ(call("GET", "/KORVA/packageList", {{"Authorization", viewerToken}}).status, 401);
}

TEST_F(AccessControlTest, AuditTrailHasARowForEachKindOfChange) {
    const Login ops = logIn(port(), "operator1", "operator1-secret");
    ASSERT_TRUE(ops.valid());
    const Headers byToken{{"Authorization", s_operatorToken}};
    EXPECT_EQ(
        call("POST", "/KORVA/uploadFile?name=a.bin&type=TA&blockIndex=0&blockSize=1&totalLength=4",
             byToken, "abcd")
            .status,
        200);
    EXPECT_EQ(call("PUT", "/KORVA/stopUpload", ops.headers()).status, 200);
    const HttpResponse exported = call("GET", "/KORVA/downLoadExcel", ops.headers());
    ASSERT_EQ(exported.status, 200);
    EXPECT_EQ(call("POST", "/KORVA/uploadExcel?name=list.csv", ops.headers(), exported.body).status,
              200);
    const QJsonArray packages =
        jsonList(call("GET", "/KORVA/packageList", ops.headers()).body, "packageList");
    ASSERT_EQ(packages.size(), 1);
    const QByteArray package = json({{"id", packages[0].toObject().value("id")}});
    EXPECT_EQ(call("PUT", "/KORVA/deletePackage", ops.headers(), package).status, 200);
    EXPECT_EQ(
        call("PUT", "/KORVA/v2/accounts/viewer1", s_admin.headers(), json({{"role", "operator"}}))
            .status,
        200);
    EXPECT_EQ(call("DELETE", "/KORVA/v2/accounts/viewer1", s_admin.headers()).status, 204);
    EXPECT_EQ(call("DELETE", "/KORVA/v2/accounts/admin", s_admin.headers()).status, 409);
    EXPECT_EQ(call("DELETE", "/KORVA/v2/tokens/1", s_admin.headers()).status, 204);
    const Login leaving = logIn(port(), "admin", "admin-secret");
    EXPECT_EQ(call("POST", "/KORVA/v2/auth/logout", leaving.headers()).status, 204);
    EXPECT_FALSE(logIn(port(), "admin", "wrong password").valid());

    const struct {
        const char* action;
        const char* account;
        const char* route;
        const char* summaryHas;
    } expected[] = {
        {"login", "operator1", "POST /KORVA/v2/auth/login", ""},
        {"login_failed", "admin", "POST /KORVA/v2/auth/login", ""},
        {"logout", "admin", "POST /KORVA/v2/auth/logout", ""},
        {"password_change", "viewer1", "POST /KORVA/v2/auth/password", ""},
        {"package_upload", "token:script-ops", "POST /KORVA/uploadFile", "TA"},
        {"package_delete", "operator1", "PUT /KORVA/deletePackage", "a.bin"},
        {"device_import", "operator1", "POST /KORVA/uploadExcel", "1 行"},
        {"forced_upgrade_clear", "operator1", "PUT /KORVA/stopUpload", ""},
        {"account_create", "admin", "POST /KORVA/v2/accounts", "operator1"},
        {"account_update", "admin", "PUT /KORVA/v2/accounts/viewer1", "operator"},
        {"account_delete", "admin", "DELETE /KORVA/v2/accounts/viewer1", "viewer1"},
        {"token_create", "admin", "POST /KORVA/v2/tokens", "script-ops"},
        {"token_revoke", "admin", "DELETE /KORVA/v2/tokens/1", "script-view"},
    };
    for (const auto& e : expected) {
        const QJsonArray rows =
            audit(s_admin, QByteArray("limit=500&action=") + e.action + "&account=" + e.account);
        const auto found = std::find_if(rows.begin(), rows.end(), [&](const QJsonValue& row) {
            const QJsonObject o = row.toObject();
            return o.value("route").toString() == e.route &&
                   o.value("summary").toString().contains(QString::fromUtf8(e.summaryHas)) &&
                   o.value("address").toString() == "127.0.0.1";
        });
        EXPECT_NE(found, rows.end()) << e.action;
    }

    // Newest first, paged; nobody changes a row, not even straight in the database.
    const QJsonArray page = audit(s_admin, "limit=2&offset=1");
    const QJsonArray all = audit(s_admin, "limit=3");
    ASSERT_EQ(page.size(), 2);
    EXPECT_EQ(page[0].toObject().value("id"), all[1].toObject().value("id"));
    EXPECT_GT(all[0].toObject().value("id").toInt(), all[1].toObject().value("id").toInt());
    ServiceDb db(s_service->path("WFS.db"));
    const QString everything = "select group_concat(id||action||summary) from Tab_AuditLog";
    const QVariant before = db.value(everything);
    for (const char* tamper :
         {"delete from Tab_AuditLog", "update Tab_AuditLog set summary='x'",
          "insert or replace into Tab_AuditLog(id,at,action) select id,0,'x' from Tab_AuditLog",
          "replace into Tab_AuditLog(id,at,action) select max(id),0,'x' from Tab_AuditLog"}) {
        db.value(tamper);
        EXPECT_EQ(db.value(everything), before) << tamper;
    }

    const HttpResponse csv = call("GET", "/KORVA/v2/audit.csv?action=login", s_admin.headers());
    EXPECT_EQ(csv.status, 200);
    EXPECT_TRUE(csv.header("Content-Type").startsWith("text/csv"));
    EXPECT_TRUE(csv.body.startsWith("\xEF\xBB\xBF" + QStringLiteral("时间,账户").toUtf8()));
    EXPECT_TRUE(csv.body.contains(",operator1,"));
    EXPECT_FALSE(csv.body.contains("login_failed"));
}

TEST_F(AccessControlTest, RepeatedFailuresLockTheAccountOutForAWhile) {
    for (int i = 0; i < 5; ++i) {
        HttpResponse reply;
        logIn(port(), "operator1", "guess", &reply);
        EXPECT_EQ(reply.status, 401);
        EXPECT_EQ(errorCode(reply), "login_failed");
    }
    HttpResponse locked;
    EXPECT_FALSE(logIn(port(), "operator1", "operator1-secret", &locked).valid());
    EXPECT_EQ(locked.status, 429);
    EXPECT_GE(locked.header("Retry-After").toInt(), 1);
    // An unknown name is answered like a wrong password.
    HttpResponse unknown;
    logIn(port(), "nobody", "guess", &unknown);
    EXPECT_EQ(unknown.status, 401);
    EXPECT_EQ(errorCode(unknown), "login_failed");
}

TEST_F(AccessControlTest, ATokenActsAtMostWithItsAccountsRoleAndEndsWithIt) {
    const Login maker = makeAccount(s_admin, "admin2", "admin");
    const QByteArray made = makeToken(maker, "by-admin2", "admin");
    const HttpResponse r = call("POST", "/KORVA/v2/tokens", {{"Authorization", made}},
                                json({{"name", "by-token"}, {"role", "admin"}}));
    ASSERT_EQ(r.status, 201) << r.body.constData();
    const QByteArray minted = "Bearer " + jsonObject(r.body).value("token").toString().toLatin1();

    const struct {
        const char* maker;  // what became of admin2's account
        QByteArray method, body;
        int changed, accounts, status, mint;
    } states[] = {{"admin", {}, {}, 0, 200, 200, 201},
                  {"viewer", "PUT", json({{"role", "viewer"}}), 200, 403, 200, 403},
                  {"removed", "DELETE", {}, 204, 401, 401, 401}};
    for (const auto& state : states) {
        if (!state.method.isEmpty()) {
            EXPECT_EQ(call(state.method, "/KORVA/v2/accounts/admin2", s_admin.headers(), state.body)
                          .status,
                      state.changed);
        }
        for (const QByteArray& token : {made, minted}) {
            const Headers bearer{{"Authorization", token}};
            const QString name =
                QStringLiteral("again-%1").arg(token == made ? 1 : 2) + state.maker;
            EXPECT_EQ(call("GET", "/KORVA/v2/accounts", bearer).status, state.accounts)
                << state.maker;
            EXPECT_EQ(call("GET", "/KORVA/v2/status", bearer).status, state.status) << state.maker;
            EXPECT_EQ(call("POST", "/KORVA/v2/tokens", bearer,
                           json({{"name", name}, {"role", "admin"}, {"expiresInDays", 1}}))
                          .status,
                      state.mint)
                << state.maker;
        }
    }
    // Its tokens went with the account, those it minted with them.
    const HttpResponse listed = call("GET", "/KORVA/v2/tokens", s_admin.headers());
    EXPECT_EQ(jsonObject(listed.body).value("tokens").toArray().size(), 2) << listed.body.data();
}

TEST_F(AccessControlTest, AccountNamesDifferingOnlyInCaseAreOneName) {
    for (const char* name : {"ADMIN", "Operator1", "viewer1"}) {
        const HttpResponse r =
            call("POST", "/KORVA/v2/accounts", s_admin.headers(),
                 json({{"name", name}, {"role", "admin"}, {"password", "handed-over"}}));
        EXPECT_EQ(r.status, 409) << name;
        EXPECT_EQ(errorCode(r), "exists") << name;
    }
    // Logins still go by the exact name.
    HttpResponse other;
    logIn(port(), "ADMIN", "admin-secret", &other);
    EXPECT_EQ(other.status, 401);
}

TEST_F(AccessControlTest, ALoginBurstIsLetInOrToldWhenToComeBack) {
    // More logins at once than there is room to check them.
    std::vector<HttpResponse> replies(6 * (2 + 2));
    std::vector<std::thread> clients;
    for (HttpResponse& reply : replies)
        clients.emplace_back([&reply] { logIn(port(), "operator1", "operator1-secret", &reply); });
    for (std::thread& client : clients) client.join();
    const auto admitted = std::count_if(replies.begin(), replies.end(),
                                        [](const HttpResponse& r) { return r.status == 200; });
    EXPECT_GE(admitted, 1);
    for (const HttpResponse& r : replies)
        EXPECT_TRUE(r.status == 200 || (r.status == 503 && r.header("Retry-After") == "1"))
            << r.status << r.body.constData();
}

// A service of its own per case: start-up settings differ.
class AccessSettingsTest : public ::testing::Test {
  protected:
    ServiceProcess m_service;
};

TEST_F(AccessSettingsTest, FirstStartForcedChangeLoginAndLogout) {
    m_service.setParam("OperatorLogin", 1);
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    const quint16 port = m_service.httpPort();
    const auto call = [&](const QByteArray& method, const QByteArray& target,
                          const Headers& headers = {}, const QByteArray& body = {}) {
        return httpRequest(port, method, target, headers, body);
    };
    const QString file = m_service.path("initial-admin-password");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(m_service.output().contains(file.toUtf8()));
    EXPECT_TRUE(m_service.output().contains("in clear"));
    const QString first = QString::fromUtf8(readFile(file)).trimmed();

    const HttpResponse anonymous = call("GET", "/KORVA/packageList");
    EXPECT_EQ(anonymous.status, 401);
    EXPECT_EQ(errorCode(anonymous), "unauthorized");
    EXPECT_TRUE(anonymous.header("Content-Type").startsWith("application/json"));

    HttpResponse reply;
    const Login login = logIn(port, "admin", first, &reply);
    ASSERT_TRUE(login.valid()) << reply.body.constData();
    EXPECT_TRUE(jsonObject(reply.body).value("passwordChangeRequired").toBool());
    const QByteArray cookie = reply.header("Set-Cookie");
    for (const char* attribute : {"HttpOnly", "SameSite=Strict", "Path=/"})
        EXPECT_TRUE(cookie.contains(attribute)) << cookie.constData();
    EXPECT_FALSE(cookie.contains("Secure"));
    EXPECT_EQ(login.cookie.size(), QByteArray("wf_session=").size() + 43);  // 256 bits

    // Until the change only the door to it is open.
    EXPECT_EQ(errorCode(call("GET", "/KORVA/packageList", login.headers())),
              "password_change_required");
    EXPECT_EQ(errorCode(call("GET", "/KORVA/v2/accounts", login.headers())),
              "password_change_required");
    EXPECT_EQ(call("GET", "/KORVA/v2/auth/me", login.headers()).status, 200);
    const QByteArray change = json({{"currentPassword", first}, {"newPassword", "admin-secret"}});
    EXPECT_EQ(call("POST", "/KORVA/v2/auth/password", login.headers(false), change).status, 403);
    EXPECT_EQ(call("POST", "/KORVA/v2/auth/password", login.headers(), change).status, 200);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(call("GET", "/KORVA/packageList", login.headers()).status, 200);

    EXPECT_EQ(call("POST", "/KORVA/v2/auth/logout", login.headers()).status, 204);
    EXPECT_EQ(call("GET", "/KORVA/packageList", login.headers()).status, 401);
    EXPECT_FALSE(logIn(port, "admin", first).valid());
    EXPECT_TRUE(logIn(port, "admin", "admin-secret").valid());
}

TEST_F(AccessSettingsTest, SessionEndsAfterItsIdleTime) {
    m_service.setParam("OperatorLogin", 1);
    m_service.setParam("SessionIdleMinutes", "0.1");  // 6 s
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    const Login admin = takeOverAdmin(m_service, "idle-admin");
    ASSERT_TRUE(admin.valid());
    const auto me = [&] {
        return httpGet(m_service.httpPort(), "/KORVA/v2/auth/me", admin.headers()).status;
    };
    // Each request starts the idle time again: requests 2 s apart outlive it...
    QElapsedTimer since;
    for (int i = 0; i < 4; ++i) {
        since.start();
        waitUntil([&] { return since.elapsed() >= 2000; }, 5000);
        EXPECT_EQ(me(), 200) << "request " << i;
    }
    // ... and 6 s without one end the session.
    since.start();
    waitUntil([&] { return since.elapsed() >= 6300; }, 10000);
    EXPECT_EQ(me(), 401);
}

// Behind a trusted proxy each client is its forwarded address: one guessing is locked out, the
// others behind the same proxy are not.
TEST_F(AccessSettingsTest, ClientsBehindATrustedProxyAreThrottledApart) {
    m_service.setParam("OperatorLogin", 1);
    m_service.setParam("HttpProxyTrusted", "127.0.0.1");
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    const Login admin = takeOverAdmin(m_service, "proxied-admin");
    ASSERT_TRUE(admin.valid());
    const auto login = [&](const QString& name, const QString& password, const char* client) {
        return httpRequest(m_service.httpPort(), "POST", "/KORVA/v2/auth/login",
                           {{"Content-Type", "application/json"}, {"X-Forwarded-For", client}},
                           json({{"name", name}, {"password", password}}))
            .status;
    };
    // Other names each time, so that no account but only the address is locked.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(login(QStringLiteral("guess%1").arg(i), "x", "198.51.100.7"), 401) << i;
    EXPECT_EQ(login("admin", "proxied-admin", "198.51.100.7"), 429);
    EXPECT_EQ(login("admin", "proxied-admin", "198.51.100.8"), 200);
}

TEST_F(AccessSettingsTest, SwitchedOffEveryRouteIsOpenAsBefore) {
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();  // OperatorLogin=0
    EXPECT_FALSE(QFile::exists(m_service.path("initial-admin-password")));
    EXPECT_TRUE(m_service.output().contains("OperatorLogin=0"));
    EXPECT_EQ(httpGet(m_service.httpPort(), "/KORVA/packageList").status, 200);
    EXPECT_EQ(
        httpRequest(m_service.httpPort(), "PUT", "/KORVA/deletePackage", {}, "{\"id\":9}").status,
        501);
    const HttpResponse me = httpGet(m_service.httpPort(), "/KORVA/v2/auth/me");
    EXPECT_EQ(jsonObject(me.body).value("role").toString(), "admin");
    EXPECT_FALSE(jsonObject(me.body).value("loginRequired").toBool());
    EXPECT_EQ(httpGet(m_service.httpPort(), "/KORVA/v2/accounts").status, 200);
}

TEST_F(AccessSettingsTest, HttpsOnlyWithASelfSignedCertificate) {
    QString cert, key;
    ASSERT_TRUE(makeTestCertificate(m_service.appDir(), cert, key));

    // A key that cannot be read ends start-up.
    m_service.setParam("OperatorLogin", 1);
    m_service.setParam("TlsCertificate", cert);
    m_service.setParam("TlsKey", m_service.path("missing.pem"));
    EXPECT_FALSE(m_service.start());
    ASSERT_TRUE(m_service.waitForExit());
    EXPECT_EQ(m_service.exitCode(), 1);
    EXPECT_TRUE(m_service.output().contains("missing.pem")) << m_service.output().constData();

    m_service.setParam("TlsKey", key);
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    EXPECT_FALSE(m_service.output().contains("in clear"));
    const QString base = QStringLiteral("https://127.0.0.1:%1").arg(m_service.httpPort());
    const QString first =
        QString::fromUtf8(readFile(m_service.path("initial-admin-password"))).trimmed();
    const CurlResult login =
        runCurl({"-k", "-H", "Content-Type: application/json", "--data",
                 QString::fromUtf8(json({{"name", "admin"}, {"password", first}})),
                 base + "/KORVA/v2/auth/login"},
                m_service.appDir());
    EXPECT_EQ(login.exitCode, 0);
    EXPECT_TRUE(login.headers.startsWith("HTTP/1.1 200")) << login.headers.constData();
    EXPECT_TRUE(curlHeader(login.headers, "Set-Cookie").contains("; Secure"));

    // Below TLS 1.2, or in plain HTTP, nothing is answered.
    EXPECT_NE(runCurl({"-k", "--tlsv1.1", "--tls-max", "1.1", base + "/test"}, m_service.appDir())
                  .exitCode,
              0);
    EXPECT_FALSE(httpGet(m_service.httpPort(), "/test").ok);
    const CurlResult test = runCurl({"-k", "--tlsv1.2", base + "/test"}, m_service.appDir());
    EXPECT_EQ(test.body, "This is the test buf");
    // File replies go through TLS as well.
    const CurlResult page = runCurl({"-k", base + "/"}, m_service.appDir());
    EXPECT_EQ(page.body, readFile(m_service.path("Web/index.asp")));
}

}  // namespace
