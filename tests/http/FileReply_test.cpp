#include <event2/http.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <future>

#include "http/AcceptEncoding.h"
#include "http/FileSendStrategy.h"
#include "tests/http/TestHttpServer.h"
#include "tests/support/HttpClient.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/ServiceProcess.h"

namespace {

QByteArray pattern(int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) data[i] = static_cast<char>('a' + (i * 7) % 26);
    return data;
}

// A server whose GET handler sends one file with the parameters the test sets.
class FileReplyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("file.bin");
        data = pattern(1000);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        file.close();
        server.onGet = [this](TestHttpServer& s, evhttp_request* req) {
            QFile file(path);
            const bool sent = wholeFile ? s.replyClient(req, 200, "OK", file, stream)
                                        : s.replyClient(req, 206, "Partial Content", file, offset,
                                                        length, stream);
            result = sent ? 1 : 0;
            if (!sent) s.sendError(req, 404, "Not Found");
        };
        port = freePort();
        ASSERT_TRUE(server.start("127.0.0.1", port));
    }

    // One GET, returned once the handler has finished (the client may have its bytes
    // before the handler writes its last line).
    HttpResponse fetch(const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        result = -1;
        const HttpResponse response = httpGet(port, "/f", headers);
        EXPECT_TRUE(waitUntil([this] { return result != -1; }, 5000));
        return response;
    }

    QTemporaryDir dir;
    QString path;
    QByteArray data;
    TestHttpServer server;
    quint16 port = 0;
    std::atomic<bool> wholeFile{false};
    std::atomic<bool> stream{false};
    std::atomic<qint64> offset{0};
    std::atomic<qint64> length{-1};
    std::atomic<int> result{-1};
};

}  // namespace

TEST_F(FileReplyTest, RangedReplySendsTheExtentInEveryStrategy) {
    struct Case {
        qint64 offset, length;
        bool stream;
        int from, size;
    };
    const Case cases[] = {
        {100, -1, false, 100, 900}, {100, 5000, false, 100, 900}, {0, 10, false, 0, 10},
        {999, -1, false, 999, 1},   {100, -1, true, 100, 900},    {250, 500, true, 250, 500},
    };
    for (const Case& c : cases) {
        offset = c.offset;
        length = c.length;
        stream = c.stream;
        const HttpResponse r = fetch();
        SCOPED_TRACE(QString("offset %1 length %2 stream %3")
                         .arg(c.offset)
                         .arg(c.length)
                         .arg(c.stream)
                         .toStdString());
        EXPECT_EQ(result, 1);
        EXPECT_EQ(r.status, 206);
        EXPECT_EQ(r.reason, "Partial Content");
        ASSERT_FALSE(r.headers.isEmpty());
        EXPECT_EQ(r.headers.first().first, "Content-Length");
        EXPECT_EQ(r.header("Content-Length"), QByteArray::number(c.size));
        EXPECT_EQ(r.headerCount("Content-Length"), 1);
        EXPECT_TRUE(r.header("Transfer-Encoding").isEmpty());
        EXPECT_EQ(r.body, data.mid(c.from, c.size));
    }
}

TEST_F(FileReplyTest, WholeFileReplyAndItsProgressLines) {
    wholeFile = true;
    {
        MessageCapture capture;
        const HttpResponse r = fetch();
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, data);
        EXPECT_TRUE(capture.contains("[replyClient] finish 0"));
        EXPECT_FALSE(capture.contains("[replyClient] add chunck buffer"));
    }
    stream = true;
    {
        MessageCapture capture;
        const HttpResponse r = fetch();
        EXPECT_EQ(r.body, data);
        EXPECT_EQ(r.header("Content-Length"), "1000");
        EXPECT_TRUE(capture.contains("[replyClient] add chunck buffer 1000"));
    }
    {
        // A client that accepts neither "*" nor "chuncked" turns streaming off.
        MessageCapture capture;
        const HttpResponse r = fetch({{"Accept-Encoding", "gzip, deflate"}});
        EXPECT_EQ(r.body, data);
        EXPECT_FALSE(capture.contains("[replyClient] add chunck buffer"));
    }
}

TEST_F(FileReplyTest, FileProblemsSendNothing) {
    QFile::remove(path);
    for (const bool whole : {false, true}) {
        wholeFile = whole;
        MessageCapture capture;
        const HttpResponse r = fetch();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(r.status, 404);
        EXPECT_TRUE(capture.contains("[replyClient] no file."));
    }
}

TEST_F(FileReplyTest, OffsetPastTheEndIsRefused) {
    offset = 1001;
    EXPECT_EQ(fetch().status, 404);
    EXPECT_EQ(result, 0);
}

TEST_F(FileReplyTest, ClientLeavingAStreamedReplyStopsTheSend) {
    constexpr qint64 kPiece = HttpServer::kFilePieceSize;
    {
        QFile big(path);
        ASSERT_TRUE(big.resize(10 * kPiece));  // sparse: no disk space used
    }
    wholeFile = true;
    stream = true;
    MessageCapture capture;

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("GET /big HTTP/1.1\r\nHost: x\r\n\r\n");
    qint64 received = 0;
    QElapsedTimer timer;
    timer.start();
    while (received < 1024 * 1024 && timer.elapsed() < 10000)
        if (socket.waitForReadyRead(100)) received += socket.readAll().size();
    ASSERT_GE(received, 1024 * 1024);
    // The loop sends the pieces: the handler, and the request lock with it, is done long before
    // the client has read the file.
    EXPECT_TRUE(waitUntil([&] { return result != -1; }, 5000));
    EXPECT_EQ(result, 1);
    socket.abort();  // unread data makes the close a reset

    ASSERT_TRUE(
        waitUntil([&] { return capture.contains("[connectClosedCallBack] 127.0.0.1:"); }, 20000));
    qint64 lastTotal = 0;
    for (const QString& line : capture.lines().filter("[replyClient] add chunck buffer "))
        lastTotal = line.section(' ', -1).toLongLong();
    // At most one piece in flight plus the one read when the close was noticed.
    EXPECT_GT(lastTotal, 0);
    EXPECT_LE(lastTotal, 3 * kPiece);
}

TEST(FileSendStrategy, ThresholdsAtTheirBoundaries) {
    struct Case {
        qint64 length;
        bool stream;
        FileSendStrategy expected;
    };
    const Case cases[] = {
        {0, false, FileSendStrategy::Segment},
        {1395864371, false, FileSendStrategy::Segment},
        {1395864372, false, FileSendStrategy::Buffered},
        {1825361100, false, FileSendStrategy::Buffered},
        {1825361101, false, FileSendStrategy::Streamed},
        {5LL * 1024 * 1024 * 1024, false, FileSendStrategy::Streamed},
        {1, true, FileSendStrategy::Streamed},
        {1395864371, true, FileSendStrategy::Streamed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseFileSendStrategy(c.length, c.stream), c.expected) << c.length;
}

TEST(AcceptEncoding, Parse) {
    struct Case {
        QString value;
        bool ok;
        QMap<QString, float> weights;
    };
    const Case cases[] = {
        {"gzip, deflate", true, {{"gzip", 1.0f}, {"deflate", 1.0f}}},
        {" gzip ; q = 0.5 ,br", true, {{"gzip", 0.5f}, {"br", 1.0f}}},
        {"*;q=0, chuncked;q=0.8", true, {{"*", 0.0f}, {"chuncked", 0.8f}}},
        {"gzip;q=0.2, gzip", true, {{"gzip", 1.0f}}},
        {"gzip;level=1", false, {}},
        {"gzip;q=high", false, {}},
    };
    for (const Case& c : cases) {
        QMap<QString, float> weights;
        EXPECT_EQ(parseAcceptEncoding(c.value, weights), c.ok) << c.value.toStdString();
        if (c.ok) {
            EXPECT_EQ(weights, c.weights) << c.value.toStdString();
        }
    }
}

TEST(AcceptEncoding, StreamFlag) {
    struct Case {
        bool hasHeader;
        QString value;
        bool stream, expected;
    };
    const Case cases[] = {
        {false, "", true, true},
        {true, "gzip", true, false},
        {true, "gzip", false, false},
        {true, "*", true, true},
        {true, "*;q=0", true, false},
        {true, "chuncked", true, true},
        {true, "chuncked", false, false},
        {true, "chunked", true, false},
        {true, "chuncked;q=0", true, false},
        {true, "gzip;level=1", true, true},  // does not parse: unchanged
    };
    for (const Case& c : cases)
        EXPECT_EQ(streamAfterAcceptEncoding(c.hasHeader, c.value, c.stream), c.expected)
            << c.value.toStdString() << " " << c.stream;
}
