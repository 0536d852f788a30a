// Routing, static pages and the JSON routes of the management server, over real HTTP against
// the running service.

#include <QElapsedTimer>

#include "tests/support/WebServiceFixture.h"

namespace {

const QByteArray kHtml = "text/html;charset=UTF-8";
// No Content-Type of the server's own: none at all on a file reply; an error reply carries the
// type of libevent's own error page.
const QByteArray kNoType = "<none>";
bool libeventOwnType(const HttpResponse& r) {
    return r.headerCount("Content-Type") == 0 ||
           (r.status != 200 && r.headerCount("Content-Type") == 1 &&
            r.header("Content-Type") == "text/html");
}

class WebRoutesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new ServiceProcess();
        writeFile(s_service->path("Web/doc/x.css"), "body { color: red; }\n");
        writeFile(s_service->path("Web/doc/data.json"), "{\"a\": 1}\n");
        writeFile(s_service->path("Web/favicon.ico"), patternBytes(64));
        writeFile(s_service->path("Web/doc/logo.png"), patternBytes(64));
        writeFile(s_service->path("Web/doc/js/a.js"), "export const a = 1;\n");
        ASSERT_TRUE(s_service->start()) << s_service->output().constData();
        ServiceDb db(s_service->path("WFS.db"));
        ASSERT_TRUE(
            db.exec("insert into Tab_DeviceInfo(devId,devSN,devType,PhoneNumber) values"
                    "('D1','SN1','T1','111'),('D2','SN2','T1','222')"));
    }
    static void TearDownTestSuite() {
        delete s_service;
        s_service = nullptr;
    }
    static quint16 port() { return s_service->httpPort(); }

    static ServiceProcess* s_service;
};
ServiceProcess* WebRoutesTest::s_service = nullptr;

struct GetCase {
    const char* target;
    int status;
    QByteArray reason;
    QByteArray contentType;  // kNoType: none of the server's own
    const char* file;        // body must equal this file under the application directory
    const char* list;        // JSON list member to count, or nullptr
    int count;               // expected entries of that list
    int statusCode;          // expected "statusCode" when list is set
};

TEST_F(WebRoutesTest, GetRoutesAnswerAsRouted) {
    const GetCase cases[] = {
        {"/", 200, "OK", kHtml, "Web/index.asp", nullptr, 0, 0},
        {"/index", 200, "OK", kHtml, "Web/index.asp", nullptr, 0, 0},
        {"/INDEX?lang=en", 200, "OK", kHtml, "Web/index.asp", nullptr, 0, 0},
        // The static rule is tested first.
        {"/KORVA/packageList/INDEX", 200, "OK", kHtml, "Web/index.asp", nullptr, 0, 0},
        {"/doc/x.css?x", 200, "OK", "text/css; charset=utf-8", "Web/doc/x.css", nullptr, 0, 0},
        {"/doc/data.json", 200, "OK", "application/json", "Web/doc/data.json", nullptr, 0, 0},
        {"/doc/logo.png", 200, "OK", "image/png", "Web/doc/logo.png", nullptr, 0, 0},
        {"/doc/js/a.js?v=4", 200, "OK", "text/javascript; charset=utf-8", "Web/doc/js/a.js",
         nullptr, 0, 0},
        {"/favicon.ico", 200, "OK", "image/x-icon", "Web/favicon.ico", nullptr, 0, 0},
        {"/css/main.css?v=3", 204, "Request does not have content", kNoType, nullptr, nullptr, 0,
         0},
        {"/doc/missing.css", 204, "Request does not have content", kNoType, nullptr, nullptr, 0, 0},
        {"/KORVA/deviceList", 200, "OK", kHtml, nullptr, "deviceInfo", 2, 1},
        {"/KORVA/DEVICELIST", 200, "OK", kHtml, nullptr, "deviceInfo", 2, 1},
        {"/korva/devicelist?x=1", 200, "OK", kHtml, nullptr, "deviceInfo", 2, 1},
        {"/KORVA/deviceList?deviceNo=SN1&phoneNum=111", 200, "OK", kHtml, nullptr, "deviceInfo", 1,
         1},
        {"/KORVA/DEVICELIST?deviceNo=SN2&phoneNum=222", 200, "OK", kHtml, nullptr, "deviceInfo", 1,
         1},
        // The parameter keys are case-sensitive: these fall back to the whole list.
        {"/KORVA/deviceList?DEVICENO=SN1&PHONENUM=111", 200, "OK", kHtml, nullptr, "deviceInfo", 2,
         1},
        {"/KORVA/deviceList?deviceNo=SN1", 200, "OK", kHtml, nullptr, "deviceInfo", 2, 1},
        {"/KORVA/deviceList?uploadStatus=1", 200, "OK", kHtml, nullptr, "deviceInfo", 0, 0},
        {"/KORVA/getProgress", 200, "OK", kHtml, nullptr, "progressList", 0, 0},
        {"/KORVA/packageList", 200, "OK", kHtml, nullptr, "packageList", 0, 1},
    };
    for (const GetCase& c : cases) {
        SCOPED_TRACE(c.target);
        const HttpResponse r = httpGet(port(), c.target);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.reason, c.reason);
        if (c.contentType == kNoType)
            EXPECT_TRUE(libeventOwnType(r)) << r.header("Content-Type").constData();
        else
            EXPECT_EQ(r.header("Content-Type"), c.contentType);
        if (c.file) {
            const QByteArray expected = readFile(s_service->path(c.file));
            ASSERT_FALSE(expected.isEmpty());
            EXPECT_EQ(r.body, expected);
        }
        if (c.list) {
            const QJsonObject doc = jsonObject(r.body);
            ASSERT_TRUE(doc.value("data").toObject().value(c.list).isArray()) << r.body.constData();
            EXPECT_EQ(jsonList(r.body, c.list).size(), c.count);
            EXPECT_EQ(doc.value("statusCode").toInt(-1), c.statusCode);
            EXPECT_EQ(doc.value("errorMgs").toString("x"), QString());
        }
    }
}

TEST_F(WebRoutesTest, QueryFindsTheDeviceByItsSerialAndPhone) {
    const HttpResponse r = httpGet(port(), "/KORVA/deviceList?deviceNo=SN2&phoneNum=222");
    const QJsonArray list = jsonList(r.body, "deviceInfo");
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].toObject().value("deviceNo").toString(), "SN2");
    EXPECT_EQ(list[0].toObject().value("phone").toString(), "222");
    EXPECT_EQ(list[0].toObject().value("deviceId").toString(), "D2");
}

TEST_F(WebRoutesTest, StaticFilesHonourOneRange) {
    const QByteArray css = readFile(s_service->path("Web/doc/x.css"));
    const HttpResponse part =
        httpGet(port(), "/doc/x.css", {qMakePair(QByteArray("Range"), QByteArray("bytes=5-9"))});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.reason, "Partial Content");
    EXPECT_EQ(part.header("Content-Range"),
              QByteArray("bytes 5-9/") + QByteArray::number(css.size()));
    EXPECT_EQ(part.body, css.mid(5, 5));
    // A range that is not accepted sends the whole file, without Content-Range here.
    const HttpResponse whole =
        httpGet(port(), "/doc/x.css", {qMakePair(QByteArray("Range"), QByteArray("items=5-9"))});
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headerCount("Content-Range"), 0);
    EXPECT_EQ(whole.body, css);
    // Nor is a range from the end, which here sends the empty extent the parser left (a
    // download sends the whole file instead).
    const HttpResponse end =
        httpGet(port(), "/doc/x.css",
                {qMakePair(QByteArray("Range"), "bytes=" + QByteArray::number(css.size()) + "-")});
    EXPECT_EQ(end.status, 200);
    EXPECT_EQ(end.headerCount("Content-Range"), 0);
    EXPECT_EQ(end.header("Content-Length"), "0");
    EXPECT_TRUE(end.body.isEmpty());
}

TEST_F(WebRoutesTest, UploadWithoutBodyIsNotImplemented) {
    const HttpResponse r =
        httpRequest(port(), "POST",
                    "/KORVA/uploadFile?name=a.bin&type=T1&blockIndex=0&blockSize=1&"
                    "totalLength=10&uploadTime=1");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 501);
    EXPECT_EQ(r.reason, "not implemented");
    EXPECT_FALSE(QFile::exists(s_service->path("Package/T1/1_a.bin")));
}

TEST_F(WebRoutesTest, RequestsOutsideTheRoutesAreAnsweredAtOnce) {
    // 405 names the methods that do take the path; a path no method takes is 404.
    const struct {
        QByteArray request;
        int status;
        QByteArray allow;
    } cases[] = {
        {"PUT /KORVA/unknown HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}", 404, ""},
        {"POST /KORVA/unknown HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}", 404, ""},
        {"DELETE /KORVA/deviceList HTTP/1.1\r\nHost: x\r\n\r\n", 405, "GET"},
        {"DELETE /index HTTP/1.1\r\nHost: x\r\n\r\n", 405, "GET"},
        {"DELETE /nothing/here HTTP/1.1\r\nHost: x\r\n\r\n", 404, ""},
        {"GET /KORVA/FILE HTTP/1.1\r\nHost: x\r\n\r\n", 404, ""},
        {"PUT /KORVA/uploadExcel?name=a.csv HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab",
         405, "POST"},
        {"POST /KORVA/stopUpload HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405, "PUT"},
        {"CONNECT /KORVA/packageList HTTP/1.1\r\nHost: x\r\n\r\n", 405, "GET"},
        {"CONNECT example.org:443 HTTP/1.1\r\nHost: x\r\n\r\n", 404, ""},
        // Only the upload route of POST ignores case, as routing does.
        {"POST /korva/uploadexcel?name=a.csv HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab",
         404, ""},
        {"PUT /korva/stopupload HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 404, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.left(50).constData());
        QElapsedTimer timer;
        timer.start();
        const QByteArray raw = rawExchange(port(), c.request, 5000);
        EXPECT_LT(timer.elapsed(), 3000);  // closed at once, not at the connection time-out
        EXPECT_TRUE(raw.startsWith("HTTP/1.1 " + QByteArray::number(c.status) + ' '))
            << raw.left(60).constData();
        if (c.allow.isEmpty())
            EXPECT_FALSE(raw.contains("\r\nAllow:"));
        else
            EXPECT_TRUE(raw.contains("\r\nAllow: " + c.allow + "\r\n")) << raw.constData();
    }
    const HttpResponse upload =
        httpRequest(port(), "POST", "/korva/UPLOADFILE?name=a.bin", {}, "ab");
    EXPECT_EQ(upload.status, 501);  // routed, refused for its missing parameters
    EXPECT_EQ(upload.reason, "not implemented");
    EXPECT_EQ(httpGet(port(), "/KORVA/getProgress").status, 200);
}

TEST_F(WebRoutesTest, TraversalOfStaticPathsIsRefused) {
    const QByteArray config = readFile(s_service->path("config.ini"));
    ASSERT_FALSE(config.isEmpty());
    const char* targets[] = {
        "/../config.ini",    "/%2e%2e/config.ini",        "/..%2Fconfig.ini",
        "/doc/../../WFS.db", "/doc/..%2F..%2FWFS.db",     "/%2e%2e/WFS.db",
        "/%2E%2E%2FWFS.db",  "/doc/%2e%2e/%2e%2e/WFS.db",
    };
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        const QByteArray raw =
            rawExchange(port(), QByteArray("GET ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n", 3000);
        ASSERT_FALSE(raw.isEmpty());
        const HttpResponse r = httpGet(port(), target);
        EXPECT_EQ(r.status, 204);
        EXPECT_EQ(r.reason, "Request does not have content");
        EXPECT_FALSE(raw.contains("SQLite format 3"));
        EXPECT_FALSE(raw.contains(config.trimmed()));
        EXPECT_FALSE(raw.contains("LocalParam"));
    }
}

// A service started without its web root.
TEST(WebRootMissingTest, StaticRoutesAnswerInternalError) {
    ServiceProcess service;
    ASSERT_TRUE(QDir(service.path("Web")).removeRecursively());
    ASSERT_TRUE(service.start()) << service.output().constData();
    for (const char* target : {"/", "/index", "/doc/x.css", "/favicon.ico", "/other.html"}) {
        SCOPED_TRACE(target);
        const HttpResponse r = httpGet(service.httpPort(), target);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, 500);
        EXPECT_EQ(r.reason, "Internal error");
    }
    // The API routes do not need the web root; stopping with an empty device table fails.
    EXPECT_EQ(httpGet(service.httpPort(), "/KORVA/deviceList").status, 200);
    const HttpResponse stop = httpRequest(service.httpPort(), "PUT", "/KORVA/stopUpload");
    EXPECT_EQ(stop.status, 501);
    EXPECT_EQ(stop.reason, "not implemented");
}

}  // namespace
