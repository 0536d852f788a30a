// Package downloads on both ports as curl, wget and aria2c use them: resuming, If-Range across a
// re-upload under the same address, and HEAD on every GET route.

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStandardPaths>

#include "tests/support/WebServiceFixture.h"

namespace {

const int kSize = 64 * 1024;
const int kHalf = kSize / 2;

// The exit code (-1: did not end) and, when it failed, what the client said.
int run(const QString& program, const QStringList& args, QByteArray* said = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    const bool ended = process.waitForFinished(20000) || (process.kill(), false);
    process.waitForFinished();
    if (said) *said = process.readAll();
    return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::string sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

class PackageValidatorsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_service.start()) << m_service.output().constData(); }

    // The same address for every upload of the type: each one replaces the last.
    int upload(const QByteArray& body) {
        const QByteArray target =
            "/KORVA/uploadFile?name=p.bin&app=V1&type=T1&blockIndex=0&"
            "blockSize=1&uploadTime=20260101&totalLength=" +
            QByteArray::number(body.size());
        return httpRequest(m_service.httpPort(), "POST", target,
                           {{"Content-Type", "application/octet-stream"}}, body)
            .status;
    }
    QJsonObject listed() {
        const HttpResponse list = httpGet(m_service.httpPort(), "/KORVA/v2/packages");
        return jsonObject(list.body).value("items").toArray().first().toObject();
    }
    // The package's three download routes.
    QList<QPair<quint16, QByteArray>> routes() {
        const QByteArray path = "/KORVA/dlPackage/T1/20260101_p.bin";
        return {{m_service.httpPort2(), path},
                {m_service.httpPort(), path},
                {m_service.httpPort(), listed().value("download").toString().toLatin1()}};
    }
    static QString url(const QPair<quint16, QByteArray>& route) {
        return QStringLiteral("http://127.0.0.1:%1").arg(route.first) + route.second;
    }

    ServiceProcess m_service;
};

TEST_F(PackageValidatorsTest, ResumesKeepOneVersionAcrossASameSizeReuploadWithinASecond) {
    const bool aria2 = !QStandardPaths::findExecutable("aria2c").isEmpty();
    const QString part = m_service.path("part.bin");
    const QString stored = m_service.path("Package/T1/20260101_p.bin");
    ASSERT_EQ(upload(patternBytes(kSize)), 200);  // the v2 route needs the row's id
    int seed = 0;
    for (const auto& route : routes()) {
        SCOPED_TRACE(route.second.constData());
        const QByteArray first = patternBytes(kSize, ++seed);
        const QByteArray second = patternBytes(kSize, ++seed);
        ASSERT_EQ(upload(first), 200);
        EXPECT_EQ(listed().value("sha256").toString().toStdString(), sha256(first));

        QByteArray head;
        ASSERT_EQ(run("curl", {"-sSfI", url(route)}, &head), 0) << head.constData();
        const QString etag = QString::fromLatin1(curlHeader(head, "ETag"));
        EXPECT_EQ(etag.toStdString(), '"' + sha256(first) + '"');
        // Each client resumes the half it holds of this version.
        const QList<QPair<QString, QStringList>> resumes = {
            {"curl", {"-sSf", "-C", "-", "-H", "If-Range: " + etag, "-o", part, url(route)}},
            {"wget", {"-q", "-c", "-O", part, url(route)}},
            {"aria2c", {"-q", "-c", "-d", m_service.appDir(), "-o", "part.bin", url(route)}}};
        for (const auto& client : resumes) {
            if (client.first == "aria2c" && !aria2) continue;
            writeFile(part, first.left(kHalf));
            EXPECT_EQ(run(client.first, client.second), 0) << client.first.toStdString();
            EXPECT_EQ(sha256(readFile(part)), sha256(first)) << client.first.toStdString();
        }

        // The same size again in the same second: only the content tells them apart.
        const QDateTime modified = QFileInfo(stored).lastModified();
        ASSERT_EQ(upload(second), 200);
        QFile replaced(stored);
        ASSERT_TRUE(replaced.open(QIODevice::ReadWrite) &&
                    replaced.setFileTime(modified, QFileDevice::FileModificationTime));
        replaced.close();
        // The old tag gets the whole new file; curl's own resume then refuses rather than
        // splicing it onto the old half.
        const QString rest = m_service.path("rest.bin");
        EXPECT_EQ(run("curl", {"-sSf", "-r", QString::number(kHalf) + '-', "-H",
                               "If-Range: " + etag, "-o", rest, url(route)}),
                  0);
        EXPECT_EQ(sha256(readFile(rest)), sha256(second));
        writeFile(part, first.left(kHalf));
        EXPECT_NE(
            run("curl", {"-sS", "-C", "-", "-H", "If-Range: " + etag, "-o", part, url(route)}), 0);
        EXPECT_EQ(sha256(readFile(part)), sha256(first.left(kHalf)));
    }
    if (!aria2) GTEST_SKIP() << "aria2c is not installed (scripts/install-deps.sh installs it)";
}

TEST_F(PackageValidatorsTest, HeadAnswersEveryGetRouteWithItsHeadersAlone) {
    ASSERT_EQ(upload(patternBytes(kSize)), 200);
    QList<QPair<quint16, QByteArray>> targets = routes();
    targets.append({m_service.httpPort(), "/KORVA/v2/packages/9999/file"});
    const HttpResponse doc = httpGet(m_service.httpPort(), "/KORVA/v2/openapi.json");
    const QJsonObject paths = jsonObject(doc.body).value("paths").toObject();
    for (auto it = paths.begin(); it != paths.end(); ++it) {
        if (it.value().toObject().contains("get"))
            targets.append({m_service.httpPort(),
                            it.key().replace(QRegularExpression("\\{[^}]*\\}"), "1").toLatin1()});
    }
    ASSERT_GT(targets.size(), 20);
    for (const auto& t : targets) {
        SCOPED_TRACE(t.second.constData());
        const HttpResponse get = httpGet(t.first, t.second);
        const HttpResponse head = httpRequest(t.first, "HEAD", t.second);
        EXPECT_EQ(head.status, get.status);
        EXPECT_TRUE(head.ok && head.body.isEmpty());
        EXPECT_EQ(head.headerCount("Content-Length"), 1);
        EXPECT_EQ(head.header("Content-Type"), get.header("Content-Type"));
        if (get.status == 404 && t.second.startsWith("/KORVA/v2/packages/")) {
            EXPECT_EQ(jsonObject(get.body).value("error").toObject().value("code"), "not_found");
        }
        if (get.header("ETag").isEmpty()) continue;
        EXPECT_EQ(head.header("ETag"), get.header("ETag"));
        EXPECT_EQ(head.header("Content-Length").toLongLong(), get.body.size());
        EXPECT_EQ(run("wget", {"-q", "--spider", url(t)}), 0);
    }
}

}  // namespace
