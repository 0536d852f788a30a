#include "download/EmbeddedWebServer.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>

#include "core/MetricsRegistry.h"
#include "download/DownloadMetrics.h"
#include "tests/support/HttpClient.h"

namespace {

const QByteArray kNotFound = "Error: File not found";

const std::string kPrefix = "/KORVA/dlPackage/";

// The files the server finds, as the package directory holds packages: a download path names the
// file at that relative path, whether or not it exists.
const QTemporaryDir& servedRoot() {
    static const QTemporaryDir root;
    return root;
}

void resolveFromServedRoot(EmbeddedWebServer& server) {
    const std::string root = servedRoot().path().toStdString();
    server.setResolver([root](const std::string& path, DownloadServer::Served& file) {
        if (path.compare(0, kPrefix.size(), kPrefix) != 0) return DownloadServer::Lookup::NotFound;
        file.path = root + path.substr(kPrefix.size() - 1);
        return DownloadServer::Lookup::Found;
    });
}

QByteArray pattern(int size, char seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) data[i] = static_cast<char>(seed + i * 7 % 251);
    return data;
}

class EmbeddedWebServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resolveFromServedRoot(m_server);
        ASSERT_TRUE(m_server.start(0));
        m_port = static_cast<quint16>(m_server.port());
    }

    // The file the download path names, written with data.
    static std::string serveFile(const QByteArray& path, const QByteArray& data) {
        const QString file = servedRoot().path() +
                             QString::fromLatin1(path).mid(static_cast<int>(kPrefix.size()) - 1);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(file).path()));
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
        return file.toStdString();
    }

    MetricsRegistry m_registry;
    DownloadMetrics m_metrics{m_registry};
    EmbeddedWebServer m_server{m_metrics};
    QTemporaryDir m_dir;
    quint16 m_port = 0;
};

TEST(EmbeddedWebServerStartTest, AFailedStartMayBeRetriedAndARunningServerStartsNoMore) {
    MetricsRegistry registry;
    DownloadMetrics metrics(registry);
    EmbeddedWebServer server(metrics);
    resolveFromServedRoot(server);
    QTcpServer occupier;
    ASSERT_TRUE(occupier.listen(QHostAddress::Any, 0));
    EXPECT_FALSE(server.start(occupier.serverPort()));
    EXPECT_FALSE(server.running());

    ASSERT_TRUE(server.start(0));
    const auto port = static_cast<quint16>(server.port());
    EXPECT_FALSE(server.start(0));
    EXPECT_EQ(httpGet(port, "/KORVA/dlPackage/none.bin").status, 404);
}

struct ServeCase {
    const char* name;
    int size;
    int first;  // of the requested range
    int last;
};

class EmbeddedWebServerServeTest : public EmbeddedWebServerTest,
                                   public ::testing::WithParamInterface<ServeCase> {};

TEST_P(EmbeddedWebServerServeTest, AFileWholeAndInPart) {
    const ServeCase& c = GetParam();
    const QByteArray data = pattern(c.size, 'a');
    serveFile("/KORVA/dlPackage/app/pkg.bin", data);

    const HttpResponse whole = httpGet(m_port, "/KORVA/dlPackage/app/pkg.bin");
    EXPECT_EQ(whole.status, 200);
    EXPECT_TRUE(whole.body == data) << "got " << whole.body.size() << " bytes";
    EXPECT_EQ(whole.header("Accept-Ranges"), QByteArray("bytes"));

    const QByteArray range = QByteArray::number(c.first) + '-' + QByteArray::number(c.last);
    const HttpResponse part =
        httpGet(m_port, "/KORVA/dlPackage/app/pkg.bin", {{"Range", "bytes=" + range}});
    EXPECT_EQ(part.status, 206);
    EXPECT_TRUE(part.body == data.mid(c.first, c.last - c.first + 1))
        << "got " << part.body.size() << " bytes";
    EXPECT_EQ(part.header("Content-Range"), "bytes " + range + '/' + QByteArray::number(c.size));
}

// Bodies go out in blocks: a file of several blocks must arrive whole and in order.
INSTANTIATE_TEST_SUITE_P(
    Embedded, EmbeddedWebServerServeTest,
    ::testing::Values(ServeCase{"OneBlock", 1000, 100, 199},
                      ServeCase{"SeveralBlocks", 3 * 1024 * 1024 + 123, 1048000, 3145800}),
    [](const ::testing::TestParamInfo<ServeCase>& info) { return info.param.name; });

// The process's directory holds the database, the configuration and the logs: nothing but
// resolved files may leave this port.
TEST_F(EmbeddedWebServerTest, UnknownPathsAndTheWorkingDirectoryAnswer404) {
    serveFile("/KORVA/dlPackage/app/ok.bin", "ok");
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    for (const char* name : {"WFS.db", "config.ini"}) {
        QFile file(m_dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("secret") == 6);
    }
    const QByteArray targets[] = {
        "/WFS.db",
        "/config.ini",
        "/",
        "/KORVA/dlPackage/",
        "/KORVA/dlPackage/app/never.bin",
        "/KORVA/dlPackage/app/../../WFS.db",
        "/KORVA/dlPackage/app/ok.bin/../../../config.ini",
        "/%57FS.db",
    };
    for (const QByteArray& target : targets) {
        const HttpResponse reply = httpGet(m_port, target);
        EXPECT_EQ(reply.status, 404) << target.constData();
        EXPECT_TRUE(reply.body.contains(kNotFound)) << target.constData();
        EXPECT_FALSE(reply.body.contains("secret")) << target.constData();
    }
    QDir::setCurrent(oldCwd);
}

TEST_F(EmbeddedWebServerTest, AMissingFileAnswers404) {
    const std::string file = serveFile("/KORVA/dlPackage/app/gone.bin", "x");
    ASSERT_TRUE(QFile::remove(QString::fromStdString(file)));
    for (const QByteArray& range : {QByteArray(), QByteArray("bytes=-1")}) {
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!range.isEmpty()) headers.append({"Range", range});
        const HttpResponse reply = httpGet(m_port, "/KORVA/dlPackage/app/gone.bin", headers);
        EXPECT_EQ(reply.status, 404) << range.constData();
        EXPECT_TRUE(reply.body.contains(kNotFound)) << range.constData();
    }
}

TEST_F(EmbeddedWebServerTest, RangeRequests) {
    const QByteArray data = pattern(1000, 'r');
    serveFile("/KORVA/dlPackage/app/range.bin", data);
    struct Case {
        QByteArray range;
        int status;
        int first;  // the part expected in the body (200: the whole file)
        int length;
        QByteArray contentRange;
    };
    const Case cases[] = {
        {"bytes=0-9", 206, 0, 10, "bytes 0-9/1000"},                 // closed
        {"bytes=0-0", 206, 0, 1, "bytes 0-0/1000"},                  // one byte
        {"bytes=999-999", 206, 999, 1, "bytes 999-999/1000"},        // the last byte
        {"bytes=990-", 206, 990, 10, "bytes 990-999/1000"},          // open
        {"bytes=0-", 206, 0, 1000, "bytes 0-999/1000"},              // open from the start
        {"bytes=995-2000", 206, 995, 5, "bytes 995-999/1000"},       // end past the file
        {"bytes=-10", 206, 990, 10, "bytes 990-999/1000"},           // suffix
        {"bytes=-5000", 206, 0, 1000, "bytes 0-999/1000"},           // suffix beyond the file
        {"Bytes = 5-6", 206, 5, 2, "bytes 5-6/1000"},                // case and spaces
        {"bytes=1000-", 416, 0, 0, "bytes */1000"},                  // start at the end
        {"bytes=5000-", 416, 0, 0, "bytes */1000"},                  // start past the end
        {"bytes=5000-6000", 416, 0, 0, "bytes */1000"},              //
        {"bytes=-0", 416, 0, 0, "bytes */1000"},                     // empty suffix
        {"bytes=2000-,3000-3001", 416, 0, 0, "bytes */1000"},        // multi, none inside
        {"bytes=0-1,5-6", 200, 0, 1000, QByteArray()},               // multi: whole file
        {"bytes=10-5", 200, 0, 1000, QByteArray()},                  // invalid: ignored
        {"bytes=abc", 200, 0, 1000, QByteArray()},                   //
        {"bytes=+5-9", 200, 0, 1000, QByteArray()},                  //
        {"items=0-1", 200, 0, 1000, QByteArray()},                   // another unit
        {"bytes=99999999999999999999-", 416, 0, 0, "bytes */1000"},  // huge start
    };
    for (const Case& c : cases) {
        const HttpResponse reply =
            httpGet(m_port, "/KORVA/dlPackage/app/range.bin", {{"Range", c.range}});
        const char* label = c.range.constData();
        ASSERT_TRUE(reply.ok) << label;
        EXPECT_EQ(reply.status, c.status) << label;
        EXPECT_EQ(reply.body, data.mid(c.first, c.length)) << label;
        EXPECT_EQ(reply.header("Content-Length").toInt(), c.length) << label;
        EXPECT_EQ(reply.header("Content-Range"), c.contentRange) << label;
    }
}

TEST_F(EmbeddedWebServerTest, HeadWithARangeSendsNoBody) {
    serveFile("/KORVA/dlPackage/app/head.bin", pattern(100, 'h'));
    const HttpResponse reply =
        httpRequest(m_port, "HEAD", "/KORVA/dlPackage/app/head.bin", {{"Range", "bytes=-10"}});
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.header("Content-Length"), QByteArray("10"));
    EXPECT_TRUE(reply.body.isEmpty());
}

// A cache that holds the file asks with the validators of the reply it got.
TEST_F(EmbeddedWebServerTest, ValidatorsOfAReplyMakeTheNextRequestConditional) {
    serveFile("/KORVA/dlPackage/app/cond.bin", pattern(50, 'c'));
    const HttpResponse first = httpGet(m_port, "/KORVA/dlPackage/app/cond.bin");
    ASSERT_EQ(first.status, 200);
    ASSERT_FALSE(first.header("Etag").isEmpty());
    ASSERT_FALSE(first.header("Last-Modified").isEmpty());
    const QPair<QByteArray, QByteArray> conditions[] = {
        {"If-None-Match", first.header("Etag")},
        {"If-Modified-Since", first.header("Last-Modified")},
    };
    for (const auto& condition : conditions) {
        const HttpResponse again = httpGet(m_port, "/KORVA/dlPackage/app/cond.bin", {condition});
        EXPECT_EQ(again.status, 304) << condition.first.constData();
        EXPECT_TRUE(again.body.isEmpty()) << condition.first.constData();
    }
    const HttpResponse changed =
        httpGet(m_port, "/KORVA/dlPackage/app/cond.bin", {{"If-None-Match", "\"other\""}});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.body, pattern(50, 'c'));
}

// A resumed download names, with If-Range, the version it holds part of: the part is sent only
// of that version, any other gets the whole file, never bytes to splice onto old ones.
TEST_F(EmbeddedWebServerTest, IfRangeSendsThePartOnlyOfTheSameVersion) {
    const QByteArray path = "/KORVA/dlPackage/app/resume.bin";
    const QByteArray data = pattern(1000, 'i');
    const QString file = QString::fromStdString(serveFile(path, data));
    {
        QFile stamp(file);
        ASSERT_TRUE(stamp.open(QIODevice::ReadWrite));
        ASSERT_TRUE(stamp.setFileTime(QDateTime::fromSecsSinceEpoch(1657500000, Qt::UTC),
                                      QFileDevice::FileModificationTime));
    }
    const QByteArray etag = "\"62cb7160.1000\"";
    ASSERT_EQ(httpGet(m_port, path).header("Etag"), etag);
    struct Case {
        QByteArray ifRange;
        int status;
    };
    const Case cases[] = {
        {etag, 206},
        {"Mon, 11 Jul 2022 00:40:00 GMT", 206},
        {"Monday, 11-Jul-22 00:40:00 GMT", 206},  // the older date forms
        {"Mon Jul 11 00:40:00 2022", 206},
        {"\"62cb7160.999\"", 200},               // another version
        {"W/" + etag, 200},                      // a weak tag never matches
        {"Mon, 11 Jul 2022 00:40:01 GMT", 200},  // a date must be the exact one
        {"Sun, 10 Jul 2022 00:40:00 GMT", 200},  //
        {"yesterday", 200},                      //
    };
    for (const Case& c : cases) {
        const HttpResponse reply =
            httpGet(m_port, path, {{"Range", "bytes=100-199"}, {"If-Range", c.ifRange}});
        EXPECT_EQ(reply.status, c.status) << c.ifRange.constData();
        EXPECT_EQ(reply.body, c.status == 206 ? data.mid(100, 100) : data) << c.ifRange.constData();
    }
    // Without a Range, If-Range asks for nothing.
    EXPECT_EQ(httpGet(m_port, path, {{"If-Range", etag}}).body, data);

    // The package replaced under the same name: the terminal's resumed request with the old
    // validator gets the new package whole.
    const QByteArray next = pattern(1500, 'n');
    serveFile(path, next);
    const HttpResponse resumed =
        httpGet(m_port, path, {{"Range", "bytes=500-"}, {"If-Range", etag}});
    EXPECT_EQ(resumed.status, 200);
    EXPECT_EQ(resumed.body, next);
    EXPECT_EQ(resumed.header("Content-Range"), QByteArray());
}

}  // namespace
