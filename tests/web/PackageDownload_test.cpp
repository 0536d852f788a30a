// Package downloads with byte ranges through the management server, with the raw client and
// with curl, and the traversal attempts on the download route.

#include "tests/support/WebServiceFixture.h"

namespace {

const int kSize = 1000;

class PackageDownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new ServiceProcess();
        ASSERT_TRUE(s_service->start()) << s_service->output().constData();
        writeFile(s_service->path("Package/T1/pkg.bin"), patternBytes(kSize));
    }
    static void TearDownTestSuite() {
        delete s_service;
        s_service = nullptr;
    }
    static quint16 port() { return s_service->httpPort(); }
    static QString url(const QByteArray& target) {
        return QStringLiteral("http://127.0.0.1:%1").arg(port()) + QString::fromLatin1(target);
    }

    static ServiceProcess* s_service;
};
ServiceProcess* PackageDownloadTest::s_service = nullptr;

struct RangeCase {
    const char* range;  // nullptr: no Range header
    int status;
    qint64 offset;
    qint64 length;
};

const RangeCase kRanges[] = {
    {nullptr, 200, 0, kSize},
    {"bytes=100-", 206, 100, 900},
    {"bytes=-100", 206, 900, 100},
    {"bytes=0-0", 206, 0, 1},
    {"bytes = 200 - 299", 206, 200, 100},
    {"bytes=500-1000", 200, 0, kSize},
    {"bytes=1000-", 200, 0, kSize},
    {"bytes=0-9,20-29", 200, 0, kSize},
    {"items=0-9", 200, 0, kSize},
    {"Bytes=0-9", 200, 0, kSize},
    {"bytes=999-", 206, 999, 1},
    {"bytes=-1000", 206, 0, kSize},
    {"bytes=-1001", 200, 0, kSize},
    {"bytes=5-4", 200, 0, kSize},
};

QByteArray contentRange(const RangeCase& c) {
    return QStringLiteral("bytes %1-%2/%3")
        .arg(c.offset)
        .arg(c.offset + c.length - 1)
        .arg(kSize)
        .toLatin1();
}

TEST_F(PackageDownloadTest, RangesWithTheRawClient) {
    const QByteArray content = patternBytes(kSize);
    for (const RangeCase& c : kRanges) {
        SCOPED_TRACE(c.range ? c.range : "no Range");
        QList<QPair<QByteArray, QByteArray>> headers;
        if (c.range) headers.append(qMakePair(QByteArray("Range"), QByteArray(c.range)));
        const HttpResponse r = httpGet(port(), "/KORVA/dlPackage/T1/pkg.bin", headers);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.reason, c.status == 206 ? "Partial Content" : "OK");
        EXPECT_EQ(r.headerCount("Content-Range"), 1);
        EXPECT_EQ(r.header("Content-Range"), contentRange(c));
        EXPECT_EQ(r.header("Content-Type"), "application/octet-stream");
        EXPECT_EQ(r.header("Content-Disposition"), "attachment;filename=pkg.bin");
        EXPECT_EQ(r.header("Content-Length").toLongLong(), c.length);
        EXPECT_EQ(r.body, content.mid(c.offset, c.length));
    }
}

TEST_F(PackageDownloadTest, RangesWithCurl) {
    const QByteArray content = patternBytes(kSize);
    for (const RangeCase& c : kRanges) {
        SCOPED_TRACE(c.range ? c.range : "no Range");
        QStringList args;
        if (c.range) args << "-H" << QStringLiteral("Range: %1").arg(c.range);
        args << url("/KORVA/dlPackage/T1/pkg.bin");
        const CurlResult r = runCurl(args, s_service->appDir());
        ASSERT_EQ(r.exitCode, 0) << r.headers.constData();
        EXPECT_TRUE(r.headers.startsWith(QStringLiteral("HTTP/1.1 %1 %2")
                                             .arg(c.status)
                                             .arg(c.status == 206 ? "Partial Content" : "OK")
                                             .toLatin1()))
            << r.headers.constData();
        int count = 0;
        EXPECT_EQ(curlHeader(r.headers, "Content-Range", &count), contentRange(c));
        EXPECT_EQ(count, 1);
        EXPECT_EQ(curlHeader(r.headers, "Content-Type"), "application/octet-stream");
        EXPECT_EQ(curlHeader(r.headers, "Content-Disposition"), "attachment;filename=pkg.bin");
        EXPECT_EQ(r.body, content.mid(c.offset, c.length));
    }
}

TEST_F(PackageDownloadTest, CurlRangeOptionResumesAtTheLastByte) {
    const QByteArray content = patternBytes(kSize);
    const struct {
        const char* range;
        qint64 offset;
        qint64 length;
    } cases[] = {{"100-", 100, 900}, {"999-", 999, 1}, {"-100", 900, 100}, {"200-299", 200, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        const CurlResult r =
            runCurl({"-r", c.range, url("/KORVA/dlPackage/T1/pkg.bin")}, s_service->appDir());
        ASSERT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.headers.startsWith("HTTP/1.1 206 Partial Content")) << r.headers.constData();
        EXPECT_EQ(r.body, content.mid(c.offset, c.length));
    }
}

TEST_F(PackageDownloadTest, DeletedPackageAnswersInternalError) {
    const QString path = s_service->path("Package/T2/gone.bin");
    writeFile(path, patternBytes(10));
    EXPECT_EQ(httpGet(port(), "/KORVA/dlPackage/T2/gone.bin").status, 200);
    ASSERT_TRUE(QFile::remove(path));
    const HttpResponse r = httpGet(port(), "/KORVA/dlPackage/T2/gone.bin");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.reason, " internal error");
    // A directory is not a package either.
    EXPECT_EQ(httpGet(port(), "/KORVA/dlPackage/T2").status, 500);
}

TEST_F(PackageDownloadTest, TraversalOnTheDownloadRouteIsRefused) {
    const QByteArray config = readFile(s_service->path("config.ini"));
    ASSERT_FALSE(config.isEmpty());
    const char* targets[] = {
        "/KORVA/dlPackage/../WFS.db",
        "/KORVA/dlPackage/../config.ini",
        "/KORVA/dlPackage/..%2F..%2Fconfig.ini",
        "/KORVA/dlPackage/..%2FWFS.db",
        "/KORVA/dlPackage/%2e%2e/WFS.db",
        "/KORVA/dlPackage/%2E%2E%2Fconfig.ini",
        "/KORVA/dlPackage/T1/../../WFS.db",
        "/KORVA/dlPackage/T1/%2e%2e%2f%2e%2e%2fWFS.db",
        "/KORVA/dlPackage%2F..%2FWFS.db",
        "/KORVA/dlPackage/%2Fetc%2Fpasswd",
    };
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        const QByteArray raw =
            rawExchange(port(), QByteArray("GET ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n", 3000);
        ASSERT_FALSE(raw.isEmpty());
        EXPECT_FALSE(raw.contains("SQLite format 3"));
        EXPECT_FALSE(raw.contains("LocalParam"));
        EXPECT_FALSE(raw.contains("root:"));
        const HttpResponse r = httpGet(port(), target);
        EXPECT_EQ(r.status, 500);
        EXPECT_EQ(r.reason, " internal error");
    }
}

}  // namespace
