// Package downloads on both ports as curl, wget and aria2c use them: validators, If-Range across
// a re-upload under the same address, resuming, and HEAD on every GET route.

#include <QCryptographicHash>
#include <QDateTime>
#include <QRegularExpression>
#include <QStandardPaths>

#include "tests/support/WebServiceFixture.h"

namespace {

const int kSize = 64 * 1024;
const int kHalf = kSize / 2;
const QByteArray kPackagePath = "/KORVA/dlPackage/T1/20260101_p.bin";

struct ToolRun {
    int exitCode = -1;
    QByteArray output;
};

ToolRun run(const QString& program, const QStringList& args) {
    ToolRun result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit) result.exitCode = process.exitCode();
    result.output = process.readAll();
    return result;
}

std::string sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

struct Route {
    const char* name;
    bool downloadPort;
    bool v2;  // the v2 file route of the package; otherwise its download address
};
const Route kRoutes[] = {
    {"download port", true, false},
    {"management port", false, false},
    {"v2 file route", false, true},
};

class PackageValidatorsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new ServiceProcess();
        ASSERT_TRUE(s_service->start()) << s_service->output().constData();
    }
    static void TearDownTestSuite() {
        delete s_service;
        s_service = nullptr;
    }

    // The same address for every upload of the type: the second replaces the first.
    static int upload(const QByteArray& body, const char* type = "T1") {
        const QByteArray target =
            QByteArray("/KORVA/uploadFile?name=p.bin&app=V1&type=") + type +
            "&blockIndex=0&blockSize=1&totalLength=" + QByteArray::number(body.size()) +
            "&uploadTime=20260101";
        return httpRequest(s_service->httpPort(), "POST", target,
                           {{"Content-Type", "application/octet-stream"}}, body)
            .status;
    }
    // The v2 list's row of the type.
    static QJsonObject listed(const QString& type) {
        const HttpResponse list = httpGet(s_service->httpPort(), "/KORVA/v2/packages");
        for (const QJsonValue& item : jsonObject(list.body).value("items").toArray())
            if (item.toObject().value("deviceType").toString() == type) return item.toObject();
        return QJsonObject();
    }
    static QByteArray target(const Route& route) {
        return route.v2 ? listed("T1").value("download").toString().toLatin1() : kPackagePath;
    }
    static quint16 port(const Route& route) {
        return route.downloadPort ? s_service->httpPort2() : s_service->httpPort();
    }
    static QString url(const Route& route) {
        return QStringLiteral("http://127.0.0.1:%1").arg(port(route)) +
               QString::fromLatin1(target(route));
    }
    static QString curl(const QStringList& args, const QString& output) {
        const ToolRun r = run("curl", QStringList{"-sS", "--max-time", "10", "-o", output} << args);
        return r.exitCode == 0 ? QString() : QString::fromUtf8(r.output);
    }

    static ServiceProcess* s_service;
};
ServiceProcess* PackageValidatorsTest::s_service = nullptr;

TEST_F(PackageValidatorsTest, StaleIfRangeGetsTheWholeNewFileAcrossASameSizeReupload) {
    int seed = 0;
    for (const Route& route : kRoutes) {
        SCOPED_TRACE(route.name);
        const QByteArray first = patternBytes(kSize, ++seed);
        const QByteArray second = patternBytes(kSize, ++seed);
        ASSERT_EQ(upload(first), 200);
        EXPECT_EQ(listed("T1").value("sha256").toString().toStdString(), sha256(first));
        const QString part = s_service->path("part");
        const QString rest = s_service->path("rest");

        // Half the file, its tag from a HEAD, and a resume naming it: the file as uploaded.
        ASSERT_EQ(curl({"-r", QStringLiteral("0-%1").arg(kHalf - 1), url(route)}, part), "");
        const ToolRun head = run("curl", {"-sSI", url(route)});
        ASSERT_EQ(head.exitCode, 0) << head.output.constData();
        const QString etag = QString::fromLatin1(curlHeader(head.output, "ETag"));
        EXPECT_EQ(etag.toStdString(), '"' + sha256(first) + '"');
        ASSERT_EQ(curl({"-C", "-", "-H", "If-Range: " + etag, url(route)}, part), "");
        EXPECT_EQ(sha256(readFile(part)), sha256(first));

        // The same size again within the same second: only the content tells them apart.
        const QString stored = s_service->path("Package/T1/20260101_p.bin");
        const QDateTime modified = QFileInfo(stored).lastModified();
        ASSERT_EQ(upload(second), 200);
        QFile replaced(stored);
        ASSERT_TRUE(replaced.open(QIODevice::ReadWrite));
        ASSERT_TRUE(replaced.setFileTime(modified, QFileDevice::FileModificationTime));
        replaced.close();

        // Resuming with the old tag gets the whole new file; curl's own resume refuses the
        // whole file rather than splicing it onto the old half.
        ASSERT_EQ(
            curl({"-r", QStringLiteral("%1-").arg(kHalf), "-H", "If-Range: " + etag, url(route)},
                 rest),
            "");
        EXPECT_EQ(sha256(readFile(rest)), sha256(second));
        writeFile(part, first.left(kHalf));
        EXPECT_NE(curl({"-C", "-", "-H", "If-Range: " + etag, url(route)}, part), "");
        EXPECT_EQ(sha256(readFile(part)), sha256(first.left(kHalf)));
    }
}

TEST_F(PackageValidatorsTest, WgetAndAria2ResumeAndCheckWithoutDownloading) {
    const QByteArray content = patternBytes(kSize, 99);
    ASSERT_EQ(upload(content), 200);
    const bool aria2 = !QStandardPaths::findExecutable("aria2c").isEmpty();
    for (const Route& route : kRoutes) {
        SCOPED_TRACE(route.name);
        const ToolRun spider = run("wget", {"-q", "--spider", url(route)});
        EXPECT_EQ(spider.exitCode, 0) << spider.output.constData();

        const QString file = s_service->path("resumed.bin");
        writeFile(file, content.left(kHalf));
        const ToolRun wget = run("wget", {"-q", "-c", "-O", file, url(route)});
        EXPECT_EQ(wget.exitCode, 0) << wget.output.constData();
        EXPECT_EQ(sha256(readFile(file)), sha256(content));

        if (!aria2) continue;
        writeFile(file, content.left(kHalf));
        const ToolRun aria = run("aria2c", {"-q", "-c", "--allow-overwrite=false", "-d",
                                            s_service->appDir(), "-o", "resumed.bin", url(route)});
        EXPECT_EQ(aria.exitCode, 0) << aria.output.constData();
        EXPECT_EQ(sha256(readFile(file)), sha256(content));
    }
    if (!aria2) GTEST_SKIP() << "aria2c is not installed (scripts/install-deps.sh installs it)";
}

TEST_F(PackageValidatorsTest, HeadAnswersEveryGetRouteWithItsHeadersAlone) {
    ASSERT_EQ(upload(patternBytes(kSize, 7)), 200);
    // Every GET route of the API document, its parameters filled with a sample, and the
    // package downloads of both ports.
    const HttpResponse doc = httpGet(s_service->httpPort(), "/KORVA/v2/openapi.json");
    const QJsonObject paths = jsonObject(doc.body).value("paths").toObject();
    QList<QPair<quint16, QByteArray>> targets;
    for (auto it = paths.begin(); it != paths.end(); ++it) {
        if (!it.value().toObject().contains("get")) continue;
        QString path = it.key();
        path.replace(QRegularExpression("\\{[^}]*\\}"), "1");
        targets.append({s_service->httpPort(), path.toLatin1()});
    }
    ASSERT_GT(targets.size(), 10);
    for (const Route& route : kRoutes) targets.append({port(route), target(route)});

    for (const auto& t : targets) {
        SCOPED_TRACE(t.second.constData());
        const HttpResponse get = httpGet(t.first, t.second);
        const HttpResponse head = httpRequest(t.first, "HEAD", t.second);
        ASSERT_TRUE(head.ok);
        EXPECT_EQ(head.status, get.status);
        EXPECT_TRUE(head.body.isEmpty());
        EXPECT_EQ(head.headerCount("Content-Length"), 1);
        EXPECT_EQ(head.header("Content-Type"), get.header("Content-Type"));
        EXPECT_EQ(head.header("ETag"), get.header("ETag"));
        if (get.header("ETag").isEmpty()) continue;
        // A file: the same length, and curl's own HEAD takes it.
        EXPECT_EQ(head.header("Content-Length").toLongLong(), get.body.size());
        const QString url = QStringLiteral("http://127.0.0.1:%1").arg(t.first) + t.second;
        EXPECT_EQ(run("curl", {"-sSfI", url}).exitCode, 0);
    }
}

TEST_F(PackageValidatorsTest, MissingPackageOnTheV2RouteIsNotFound) {
    ASSERT_EQ(upload(patternBytes(100, 3), "T2"), 200);
    const QByteArray gone = listed("T2").value("download").toString().toLatin1();
    ASSERT_TRUE(QFile::remove(s_service->path("Package/T2/20260101_p.bin")));
    for (const QByteArray& target : {gone, QByteArray("/KORVA/v2/packages/9999/file")}) {
        SCOPED_TRACE(target.constData());
        for (const char* method : {"GET", "HEAD"}) {
            const HttpResponse r = httpRequest(s_service->httpPort(), method, target);
            EXPECT_EQ(r.status, 404) << method;
            if (qstrcmp(method, "GET") == 0) {
                EXPECT_EQ(jsonObject(r.body).value("error").toObject().value("code"), "not_found");
            }
        }
    }
}

}  // namespace
