// What clients together can make the server hold: bodies in memory, stalled requests,
// connections and descriptors. Each case drives the server over real sockets with small limits,
// over plain HTTP and over TLS.
#include <event2/http.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "tests/http/TestHttpServer.h"
#include "tests/support/HttpClient.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/ServiceProcess.h"

namespace {

constexpr qint64 kKiB = 1024;

std::unique_ptr<QTcpSocket> openClient(quint16 port, const QByteArray& send = QByteArray(),
                                       const QHostAddress& source = QHostAddress()) {
    auto socket = connectClient(port, 5000, source);
    if (socket && !send.isEmpty()) {
        socket->write(send);
        socket->waitForBytesWritten(5000);
    }
    return socket;
}

// Everything received until the server closes the connection; false when it stays open past
// the deadline.
bool readUntilClosed(QTcpSocket& socket, int timeoutMs, QByteArray* data = nullptr) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        socket.waitForReadyRead(50);
        const QByteArray got = socket.readAll();
        if (data) *data += got;
        if (socket.state() != QAbstractSocket::ConnectedState) return true;
    }
    return false;
}

QByteArray postHead(qint64 length) {
    return "POST /up HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(length) +
           "\r\n\r\n";
}

class ServerLimitsTest : public ::testing::TestWithParam<bool> {
  protected:
    static void SetUpTestSuite() {
        certificates = new QTemporaryDir;
        ASSERT_TRUE(makeTestCertificate(certificates->path(), certificate, key));
    }
    static void TearDownTestSuite() { delete certificates; }
    void SetUp() override {
        if (GetParam()) {
            QString error;
            ASSERT_TRUE(server.setTls(certificate, key, error)) << error.toStdString();
            tls = std::make_unique<TlsClients>();
        }
        server.onPost = [](TestHttpServer& s, evhttp_request* req) {
            QByteArray body;
            s.replyClient(req, 200, "OK", QByteArray::number(s.getRequestBody(req, body)));
        };
        server.onGet = [](TestHttpServer& s, evhttp_request* req) {
            s.replyClient(req, 200, "OK", QByteArray("up"));
        };
    }
    void start() {
        port = freePort();
        ASSERT_TRUE(server.start("127.0.0.1", port));
    }
    // A connection beyond the cap gets 503 for its request at once; under TLS it is closed at
    // once, before the handshake that an answer would need (the client sends nothing: one that
    // is not refused waits for its ClientHello). Plain TCP either way.
    std::unique_ptr<QTcpSocket> plainClient(const QHostAddress& source = QHostAddress()) const {
        auto socket = std::make_unique<QTcpSocket>();
        if (!source.isNull()) socket->bind(source);
        socket->connectToHost(QHostAddress::LocalHost, port);
        socket->waitForConnected(5000);
        if (!GetParam()) socket->write("GET /x HTTP/1.1\r\nHost: x\r\n\r\n");
        return socket;
    }
    bool refusedAtOnce(QTcpSocket& socket) const {
        QByteArray answer;
        if (!readUntilClosed(socket, 3000, &answer)) return false;
        if (GetParam()) return answer.isEmpty();
        return answer.startsWith("HTTP/1.1 503 Service Unavailable\r\n") &&
               answer.contains("\r\nRetry-After: 5\r\n");
    }
    static QTemporaryDir* certificates;
    static QString certificate, key;
    std::unique_ptr<TlsClients> tls;
    TestHttpServer server;
    quint16 port = 0;
};

QTemporaryDir* ServerLimitsTest::certificates = nullptr;
QString ServerLimitsTest::certificate, ServerLimitsTest::key;

}  // namespace

TEST_P(ServerLimitsTest, BodiesBeyondTheBudgetGet503AtOnce) {
    server.setBodyBudget(1024 * kKiB);
    start();

    // One upload holds 700 KiB of the budget while its body is still on its way.
    auto first = openClient(port, postHead(700 * kKiB) + QByteArray(kKiB, 'a'));
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitUntil([&] { return server.bodyBytesHeld() == 700 * kKiB; }, 5000));

    // Another would take the bodies beyond 1 MiB: refused before its body is read.
    QElapsedTimer timer;
    timer.start();
    const QByteArray refused = rawExchange(port, postHead(700 * kKiB), 5000);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 503 Service Unavailable\r\n")) << refused.constData();
    EXPECT_TRUE(refused.contains("\r\nRetry-After: 5\r\n"));
    // One that fits is served meanwhile, and requests without a body are not held up.
    EXPECT_EQ(httpRequest(port, "POST", "/up", {}, QByteArray(200 * kKiB, 'b')).body, "204800");
    EXPECT_EQ(httpGet(port, "/x").body, "up");
    EXPECT_EQ(server.postCalls, 1);

    // Once the first is done its share comes back.
    first->write(QByteArray(699 * kKiB, 'a'));
    QByteArray answer;
    EXPECT_TRUE(readUntilClosed(*first, 10000, &answer));
    EXPECT_TRUE(answer.endsWith("716800")) << answer.right(40).constData();
    EXPECT_TRUE(waitUntil([&] { return server.bodyBytesHeld() == 0; }, 5000));
    EXPECT_EQ(httpRequest(port, "POST", "/up", {}, QByteArray(700 * kKiB, 'c')).body, "716800");
}

TEST_P(ServerLimitsTest, StalledRequestsAreClosedAndSlowOnesThatProgressAreServed) {
    server.setStallTimeout(1);
    start();
    struct Case {
        const char* name;
        QByteArray start;    // sent at once
        QByteArray trickle;  // then a byte every 200 ms
        bool served;
        bool handshake = true;  // under TLS; without, the server waits for its ClientHello
    };
    const Case cases[] = {
        // A head must be complete within the stall time, however it trickles.
        {"silent", "", "", false},
        {"no handshake", "", "", false, false},
        {"trickled head", "GET /x HTTP/1.1\r\n", QByteArray(40, 'h'), false},
        // A body may not fall silent for longer...
        {"stalled body", postHead(100) + "0123456789", "", false},
        // ...but keeps its connection while bytes come, past the stall time.
        {"slow body", postHead(15), "0123456789abcde", true},
    };
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (const Case& c : cases) {
        if (c.handshake) {
            clients.push_back(openClient(port, c.start));
        } else {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, port);
        }
        ASSERT_TRUE(clients.back() && clients.back()->waitForConnected(5000)) << c.name;
    }
    QElapsedTimer timer;
    timer.start();
    std::vector<QByteArray> received(clients.size());
    std::vector<qint64> closedAt(clients.size(), -1);
    for (int step = 0; timer.elapsed() < 6000; ++step) {
        for (size_t i = 0; i < clients.size(); ++i) {
            QTcpSocket& socket = *clients[i];
            if (closedAt[i] >= 0) continue;
            if (step < cases[i].trickle.size()) socket.write(cases[i].trickle.mid(step, 1));
            socket.waitForReadyRead(10);
            received[i] += socket.readAll();
            if (socket.state() != QAbstractSocket::ConnectedState) closedAt[i] = timer.elapsed();
        }
        QThread::msleep(200);  // the trickle's pace
        if (std::all_of(closedAt.begin(), closedAt.end(), [](qint64 t) { return t >= 0; })) break;
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_GE(closedAt[i], 0);
        if (cases[i].served) {
            EXPECT_TRUE(received[i].endsWith("\r\n\r\n15")) << received[i].constData();
            EXPECT_GT(closedAt[i], 2000);  // outlived the stall time
        } else {
            EXPECT_TRUE(received[i].isEmpty()) << received[i].constData();
            EXPECT_LT(closedAt[i], 4000);
        }
    }
    EXPECT_EQ(server.postCalls, 1);
    EXPECT_EQ(server.getCalls, 0);
    EXPECT_TRUE(waitUntil([&] { return server.bodyBytesHeld() == 0; }, 5000));
}

TEST_P(ServerLimitsTest, AnAnswerIsNotCutWhileTheClientReadsSlowly) {
    // The stall rule is for requests: an answer being read is bound only by the connection
    // time-out between two writes.
    QTemporaryDir dir;
    const QString path = dir.filePath("big.bin");
    {
        QFile big(path);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(64 * 1024 * 1024));
    }
    server.setStallTimeout(1);
    server.setConnectionTimeout(2);
    server.onGet = [&](TestHttpServer& s, evhttp_request* req) {
        QFile file(path);
        s.replyClient(req, 200, "OK", file, 0, -1, true);
    };
    start();
    auto client = openClient(port, "GET /big HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(client);
    client->setReadBufferSize(64 * kKiB);
    qint64 received = 0;
    QElapsedTimer timer;
    timer.start();
    // At most 2 MiB a second, for longer than both limits.
    while (timer.elapsed() < 4000 && client->state() == QAbstractSocket::ConnectedState) {
        client->waitForReadyRead(50);
        received += client->read(200 * kKiB).size();
        QThread::msleep(50);
    }
    EXPECT_EQ(client->state(), QAbstractSocket::ConnectedState) << received;
    EXPECT_GT(received, 1024 * kKiB);  // read on throughout, slowly
}

TEST_P(ServerLimitsTest, ConnectionsBeyondTheCapOrTheAddressShareAreRefused) {
    // A share of a quarter of the cap: one connection per source address.
    server.setMaxConnections(4);
    start();
    EXPECT_EQ(server.maxConnections(), 4);
    const auto from = [](int host) { return QHostAddress(QStringLiteral("127.0.0.%1").arg(host)); };
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int host : {2, 3, 4}) idle.push_back(openClient(port, {}, from(host)));
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 3; }, 5000));
    // Beyond its share an address is refused while the cap has room...
    EXPECT_TRUE(refusedAtOnce(*plainClient(from(2))));
    // ...and another address takes the last place.
    idle.push_back(openClient(port, {}, from(5)));
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 4; }, 5000));
    // Requests that arrive with their connection, read before it could be refused (a busy loop
    // makes that likely), are refused all the same: none reaches a handler.
    std::vector<std::unique_ptr<QTcpSocket>> burst;
    for (int i = 0; i < 200; ++i) burst.push_back(plainClient());
    for (auto& socket : burst) EXPECT_TRUE(refusedAtOnce(*socket));
    EXPECT_EQ(server.getCalls, 0);

    idle.pop_back();
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 3; }, 5000));
    EXPECT_EQ(httpGet(port, "/x").body, "up");
}

TEST_P(ServerLimitsTest, RunningOutOfDescriptorsPausesAcceptingWithOneLine) {
    server.setAcceptPause(300);
    start();
    // No request before the limit is lowered: the server would close its side of it at a moment
    // of its own, and the descriptor freed then would end the burst early.

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Room for a few clients of this process, none for the server to accept them with.
    int free = 0, fd = 0;
    for (; free < 4; ++fd)
        if (fcntl(fd, F_GETFD) == -1) ++free;
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(fd);
    MessageCapture capture;
    const auto logged = [&] { return capture.lines().filter("[Listen Error] 24").size(); };
    // Until the limit is back nothing here may need a descriptor, the sanitizers included (they
    // probe memory through a pipe): plain sockets, plain waits, no early return.
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Every client descriptor is taken before the first connects, so none is left to accept with.
    std::vector<int> waiting;
    for (int client = 0; waiting.size() < 4 && client >= 0;) {
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (client >= 0) waiting.push_back(client);
    }
    for (const int client : waiting) ::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const auto waitStart = std::chrono::steady_clock::now();
    while (logged() == 0 && std::chrono::steady_clock::now() - waitStart < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Several pauses pass while the descriptors stay short.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const int lines = logged();
    const int restored = setrlimit(RLIMIT_NOFILE, &saved);
    for (const int client : waiting) ::close(client);

    ASSERT_EQ(restored, 0);
    EXPECT_EQ(waiting.size(), 4u);
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(httpGet(port, "/x").body, "up");
}

TEST_P(ServerLimitsTest, AHandlerMayLetOthersRunDuringLongWork) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> working{false};
    server.onPost = [&](TestHttpServer& s, evhttp_request* req) {
        s.withoutRequestLock(req, [&] {
            working = true;
            released.wait();
        });
        s.replyClient(req, 200, "OK", QByteArray("long"));
    };
    start();
    auto longOne = std::async(std::launch::async,
                              [this] { return httpRequest(port, "POST", "/long", {}, "x").body; });
    ASSERT_TRUE(waitUntil([&] { return working.load(); }, 5000));
    EXPECT_EQ(httpGet(port, "/x").body, "up");
    release.set_value();
    EXPECT_EQ(longOne.get(), "long");
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, ServerLimitsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Tls" : "Plain";
                         });
