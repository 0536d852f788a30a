// The terminals' download port of the running service serves the current package of every
// device type by the package table, with no terminal having been offered it on this instance,
// and answers a balancer's health check.
#include "tests/support/WebServiceFixture.h"

namespace {
const int kSize = 1000;

HttpResponse upload(const ServiceProcess& service, const char* name, const QByteArray& body) {
    const QByteArray target = QByteArray("/KORVA/uploadFile?name=") + name +
                              "&app=V5.3.1&type=T1&blockIndex=0&blockSize=1&totalLength=" +
                              QByteArray::number(body.size()) + "&uploadTime=20260101";
    return httpRequest(service.httpPort(), "POST", target,
                       {{"Content-Type", "application/octet-stream"}}, body);
}
}  // namespace

TEST(DownloadPortTest, ServesTheCurrentPackageByThePackageTableAndAnswersHealthChecks) {
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.output().constData();
    const quint16 port = service.httpPort2();

    const HttpResponse test = httpGet(port, "/test");
    EXPECT_EQ(test.status, 200);
    EXPECT_EQ(test.body, "This is the test buf");
    const HttpResponse ready = httpGet(service.httpPort(), "/ready");
    EXPECT_EQ(ready.status, 200);
    EXPECT_EQ(ready.body, "ready\n");

    const QByteArray first = patternBytes(kSize, 1);
    ASSERT_EQ(upload(service, "a.bin", first).status, 200);
    const QByteArray firstPath = "/KORVA/dlPackage/T1/20260101_a.bin";
    const HttpResponse whole = httpGet(port, firstPath);
    ASSERT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, first);
    const QByteArray etag = whole.header("Etag");
    ASSERT_FALSE(etag.isEmpty());

    // Resumed downloads keep every answer they had.
    const struct {
        const char* name;
        QList<QPair<QByteArray, QByteArray>> headers;
        int status;
        QByteArray body;
    } resumes[] = {
        {"range", {{"Range", "bytes=100-"}}, 206, first.mid(100)},
        {"if-range of this version",
         {{"Range", "bytes=-10"}, {"If-Range", etag}},
         206,
         first.right(10)},
        {"if-range of another version",
         {{"Range", "bytes=-10"}, {"If-Range", "\"1.2\""}},
         200,
         first},
        {"unsatisfiable", {{"Range", "bytes=5000-"}}, 416, QByteArray()},
    };
    for (const auto& r : resumes) {
        const HttpResponse reply = httpGet(port, firstPath, r.headers);
        EXPECT_EQ(reply.status, r.status) << r.name;
        if (r.status != 416) {
            EXPECT_EQ(reply.body, r.body) << r.name;
        }
    }

    // Another upload for the type replaces the package: its old file stays on disk, unserved.
    const QByteArray second = patternBytes(kSize, 2);
    ASSERT_EQ(upload(service, "b.bin", second).status, 200);
    const QByteArray secondPath = "/KORVA/dlPackage/T1/20260101_b.bin";
    EXPECT_EQ(httpGet(port, secondPath).body, second);
    ASSERT_TRUE(QFileInfo::exists(service.path("Package/T1/20260101_a.bin")));
    const QByteArray notServed[] = {
        firstPath,
        "/KORVA/dlPackage/T1/never.bin",
        "/KORVA/dlPackage/T1/.20260101_b.bin.part",
        "/KORVA/dlPackage/T1/../T1/20260101_a.bin",
        "/KORVA/dlPackage/",
        "/Package/T1/20260101_b.bin",
        "/WFS.db",
    };
    for (const QByteArray& target : notServed)
        EXPECT_EQ(httpGet(port, target).status, 404) << target.constData();

    // A file no longer as uploaded is not offered, nor served.
    QFile file(service.path("Package/T1/20260101_b.bin"));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("tampered");
    file.close();
    EXPECT_EQ(httpGet(port, secondPath).status, 404);
}
