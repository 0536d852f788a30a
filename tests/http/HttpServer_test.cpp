#include <event2/http.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <future>
#include <thread>

#include "tests/http/TestHttpServer.h"
#include "tests/support/HttpClient.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/ServiceProcess.h"

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

// Everything the server sends until it closes the connection (or the deadline passes).
QByteArray exchangeUntilClosed(quint16 port, const QByteArray& request, int timeoutMs = 5000) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs)) return QByteArray();
    socket.write(request);
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(50);
        data += socket.readAll();
    }
    return data + socket.readAll();
}

// Entries of a /proc directory: the process's open descriptors, or its threads.
int procEntries(const char* dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

// The descriptor limit under which exactly `free` more descriptors can be opened.
rlim_t limitLeaving(int free) {
    int fd = 0;
    for (; free > 0; ++fd)
        if (fcntl(fd, F_GETFD) == -1) --free;
    return static_cast<rlim_t>(fd);
}

void replyText(TestHttpServer& server, evhttp_request* req, const char* text) {
    server.replyClient(req, 200, QStringLiteral("OK"), QByteArray(text));
}

class HttpServerTest : public ::testing::Test {
  protected:
    void startServer() {
        port = freePort();
        ASSERT_TRUE(server.start(kLoopback, port));
    }
    TestHttpServer server;
    quint16 port = 0;
};

}  // namespace

TEST_F(HttpServerTest, TestRouteAnswersWhileAHandlerHoldsTheLock) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered{false};
    server.onGet = [&](TestHttpServer& s, evhttp_request* req) {
        entered = true;
        released.wait();
        replyText(s, req, "held");
    };
    startServer();

    auto held = std::async(std::launch::async, [this] { return httpGet(port, "/hold"); });
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }, 5000));

    const HttpResponse test = httpGet(port, "/test");
    EXPECT_EQ(test.status, 200);
    EXPECT_EQ(test.reason, "OK");
    EXPECT_EQ(test.body, "This is the test buf");
    EXPECT_EQ(server.getCalls, 1);

    release.set_value();
    const HttpResponse first = held.get();
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body, "held");
}

TEST_F(HttpServerTest, HandlersRunOneAtATime) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    server.onGet = [&](TestHttpServer& s, evhttp_request* req) {
        if (inside.fetch_add(1) > 0) overlapped = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // widen the window
        inside.fetch_sub(1);
        replyText(s, req, "done");
    };
    startServer();

    std::vector<std::future<HttpResponse>> replies;
    for (int i = 0; i < 8; ++i)
        replies.push_back(std::async(std::launch::async, [this] { return httpGet(port, "/x"); }));
    for (auto& reply : replies) EXPECT_EQ(reply.get().body, "done");
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(server.getCalls, 8);
}

TEST_F(HttpServerTest, MethodsReachTheirHandlersOrAreRefused) {
    auto answer = [](const char* text) {
        return [text](TestHttpServer& s, evhttp_request* req) { replyText(s, req, text); };
    };
    server.onGet = answer("get");
    server.onPost = answer("post");
    server.onPut = answer("put");
    server.onDelete = answer("delete");
    server.onUnknown = answer("unknown");
    startServer();

    struct Case {
        QByteArray method;
        int status;
        QByteArray body;
    };
    const Case cases[] = {
        {"GET", 200, "get"},       {"POST", 200, "post"}, {"PUT", 200, "put"},
        {"DELETE", 200, "delete"}, {"HEAD", 200, ""},  // the GET handler's reply, its headers alone
    };
    for (const Case& c : cases) {
        const HttpResponse r = httpRequest(port, c.method, "/path");
        EXPECT_EQ(r.status, c.status) << c.method.constData();
        EXPECT_EQ(r.body, c.body) << c.method.constData();
        EXPECT_EQ(r.header("Content-Length"),
                  c.method == "HEAD" ? "3" : QByteArray::number(c.body.size()));
    }
    // evhttp never ends a CONNECT reply by itself (it would become a tunnel): it is enough to
    // see the request reach its handler.
    QTcpSocket connect;
    connect.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(connect.waitForConnected(5000));
    connect.write("CONNECT /path HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(waitUntil([&] { return server.unknownCalls == 1; }, 5000));
    connect.abort();

    const int served = server.totalCalls();
    const HttpResponse options = httpRequest(port, "OPTIONS", "/path");
    EXPECT_TRUE(options.ok);
    EXPECT_GE(options.status, 400);
    EXPECT_EQ(server.totalCalls(), served);
}

TEST_F(HttpServerTest, ASecondRequestOnOneConnectionIsNotServed) {
    server.onGet = [](TestHttpServer& s, evhttp_request* req) { replyText(s, req, "one"); };
    startServer();
    const QByteArray data = exchangeUntilClosed(
        port, "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(data.count("HTTP/1.1 "), 1) << data.constData();
    EXPECT_TRUE(data.endsWith("one"));
    EXPECT_EQ(server.getCalls, 1);
}

TEST_F(HttpServerTest, ReplyHelpers) {
    server.onGet = [](TestHttpServer& s, evhttp_request* req) {
        QString url, decoded, header, address;
        quint16 clientPort = 0;
        s.getUrl(req, url);
        const bool decodedOk = s.getDecodedUrl(req, decoded);
        const bool headerFound = s.getRequstHeader(req, "x-probe", header);
        QString missing;
        const bool missingFound = s.getRequstHeader(req, "X-Missing", missing);
        const bool peer = s.getClientAddress(req, address, clientPort);
        s.addHeader(req, "X-Twice", "1");
        s.addHeader(req, "X-Twice", "2");
        s.replyClient(req, 202, "Ignored", "%s|%s|%d|%s|%d|%s|%d", url.toUtf8().constData(),
                      decoded.toUtf8().constData(), decodedOk, header.toUtf8().constData(),
                      headerFound && !missingFound, address.toUtf8().constData(),
                      peer && clientPort > 0);
    };
    server.onPost = [](TestHttpServer& s, evhttp_request* req) {
        QByteArray body;
        const qint64 length = s.getRequestBody(req, body);
        s.replyClient(req, 201, "Made", QByteArray::number(length) + ":" + body);
    };
    server.onPut = [](TestHttpServer& s, evhttp_request* req) {
        QByteArray body;
        s.replyClient(req, 200, "OK", "%lld", s.getRequestBody(req, body));
    };
    server.onDelete = [](TestHttpServer& s, evhttp_request* req) {
        s.replyClient(req, 200, "OK", nullptr);
    };
    startServer();

    const HttpResponse get = httpGet(port, "/a%20b?q=%41", {{"X-Probe", "hello"}});
    EXPECT_EQ(get.status, 202);
    EXPECT_EQ(get.reason, "OK");
    EXPECT_EQ(get.body, "/a%20b?q=%41|/a b?q=A|1|hello|1|127.0.0.1|1");
    EXPECT_EQ(get.headerCount("X-Twice"), 2);

    const HttpResponse post = httpRequest(port, "POST", "/up", {}, "payload");
    EXPECT_EQ(post.status, 201);
    EXPECT_EQ(post.reason, "Made");
    EXPECT_EQ(post.body, "7:payload");

    EXPECT_EQ(httpRequest(port, "PUT", "/empty").body, "-1");

    const HttpResponse del = httpRequest(port, "DELETE", "/x");
    EXPECT_EQ(del.status, 200);
    EXPECT_EQ(del.header("Content-Length"), "0");
    EXPECT_TRUE(del.body.isEmpty());
}

TEST(HttpServerTimeout, UnansweredRequestIsClosedAtTheTimeout) {
    TestHttpServer server;
    server.setConnectionTimeout(1);
    const quint16 port = freePort();
    ASSERT_TRUE(server.start(kLoopback, port));  // no handler: nothing is answered
    QElapsedTimer timer;
    timer.start();
    const QByteArray data =
        exchangeUntilClosed(port, "DELETE /x HTTP/1.1\r\nHost: x\r\n\r\n", 10000);
    EXPECT_EQ(server.deleteCalls, 1);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_LT(timer.elapsed(), 8000);

    // One still waiting when the server stops goes with it.
    QTcpSocket pending;
    pending.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(pending.waitForConnected(5000));
    pending.write("DELETE /y HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return server.deleteCalls == 2; }, 5000));
    server.stop();
    EXPECT_TRUE(
        waitUntil([&] { return pending.state() != QAbstractSocket::ConnectedState; }, 5000));
}

TEST_F(HttpServerTest, ErrorReasonIsSentExactly) {
    server.onGet = [](TestHttpServer& s, evhttp_request* req) {
        EXPECT_FALSE(s.sendError(req, 500, " internal error"));
    };
    startServer();
    const QByteArray data = rawExchange(port, "GET /x HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(data.startsWith("HTTP/1.1 500  internal error\r\n")) << data.constData();
}

TEST_F(HttpServerTest, OversizeRequestsAreRefused) {
    server.onPost = [](TestHttpServer& s, evhttp_request* req) {
        QByteArray body;
        s.replyClient(req, 200, "OK", QByteArray::number(s.getRequestBody(req, body)));
    };
    server.onGet = server.onPost;
    startServer();

    const QByteArray bigHeader(HttpServer::kMaxHeadersSize + 1024, 'a');
    const HttpResponse headers = httpGet(port, "/x", {{"X-Big", bigHeader}});
    EXPECT_TRUE(headers.ok);
    EXPECT_GE(headers.status, 400);

    // Refused on the announced length, before the body arrives.
    const QByteArray tooLong =
        "POST /x HTTP/1.1\r\nHost: x\r\nContent-Length: " +
        QByteArray::number(static_cast<qint64>(HttpServer::kMaxBodySize) + 1) + "\r\n\r\nabc";
    const QByteArray refused = exchangeUntilClosed(port, tooLong);
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 413")) << refused.left(80).constData();
    EXPECT_EQ(server.totalCalls(), 0);

    const QByteArray block(4 * 1024 * 1024, 'b');
    EXPECT_EQ(httpRequest(port, "POST", "/x", {}, block).body, QByteArray::number(block.size()));
}

TEST(HttpServerStart, EmptyIpOrPortZeroFails) {
    MessageCapture capture;
    TestHttpServer server;
    EXPECT_FALSE(server.start("", 80));
    EXPECT_FALSE(server.start("0.0.0.0", 0));
    EXPECT_EQ(capture.lines().filter("[start] Start Failed. Ip is Empty or port is zero!").size(),
              2);
}

TEST(HttpServerStart, BusyPortFails) {
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost));
    MessageCapture capture;
    TestHttpServer server;
    EXPECT_FALSE(server.start(kLoopback, other.serverPort()));
    EXPECT_TRUE(capture.contains("bind failed"));
    EXPECT_TRUE(capture.contains("[startServer] create socket failed"));
    EXPECT_TRUE(capture.lines().contains("[start] HTTP Server start failed! " +
                                         QString::number(other.serverPort())));
}

TEST(HttpServerStart, SecondStartOnTheSameAddressLeavesTheFirstServing) {
    const quint16 port = freePort();
    TestHttpServer first;
    first.onGet = [](TestHttpServer& s, evhttp_request* req) { replyText(s, req, "first"); };
    ASSERT_TRUE(first.start(kLoopback, port));
    EXPECT_TRUE(first.start(kLoopback, port));

    TestHttpServer second;
    second.onGet = [](TestHttpServer& s, evhttp_request* req) { replyText(s, req, "second"); };
    EXPECT_FALSE(second.start(kLoopback, port));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(httpGet(port, "/x").body, "first");
    EXPECT_EQ(second.getCalls, 0);

    // The second object runs nothing and stops nothing.
    second.stop();
    EXPECT_EQ(httpGet(port, "/x").body, "first");

    first.stop();
    EXPECT_FALSE(httpGet(port, "/x").ok);
}

TEST(HttpServerStart, StopReleasesThePortForAnotherStart) {
    const quint16 port = freePort();
    TestHttpServer server;
    server.setThreadCount(3);
    server.onGet = [](TestHttpServer& s, evhttp_request* req) { replyText(s, req, "up"); };
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(server.start(kLoopback, port)) << round;
        EXPECT_EQ(httpGet(port, "/x").body, "up") << round;
        server.stop();
        EXPECT_FALSE(httpGet(port, "/x").ok) << round;
    }
    // Another object may take the port once it is free.
    TestHttpServer other;
    other.onGet = server.onGet;
    ASSERT_TRUE(other.start(kLoopback, port));
    EXPECT_EQ(httpGet(port, "/x").body, "up");
}

TEST(HttpServerStart, StartOnAnotherAddressMovesTheServer) {
    const quint16 first = freePort();
    TestHttpServer server;
    server.onGet = [](TestHttpServer& s, evhttp_request* req) { replyText(s, req, "here"); };
    ASSERT_TRUE(server.start(kLoopback, first));
    const quint16 second = freePort();  // never the same: each port is reserved for the process
    ASSERT_TRUE(server.start(kLoopback, second));
    EXPECT_EQ(httpGet(second, "/x").body, "here");
    EXPECT_FALSE(httpGet(first, "/x").ok);
}

TEST(HttpServerStart, StopLetsTheRunningHandlerFinishAndStartsNoOther) {
    TestHttpServer server;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered{false};
    server.onGet = [&](TestHttpServer& s, evhttp_request* req) {
        entered = true;
        released.wait();
        replyText(s, req, "late");
    };
    const quint16 port = freePort();
    ASSERT_TRUE(server.start(kLoopback, port));
    auto first = std::async(std::launch::async, [port] { return httpGet(port, "/a"); });
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }, 5000));
    auto second = std::async(std::launch::async, [port] { return httpGet(port, "/b"); });

    // The held handler replies after its loop may have ended: stop must still return.
    auto stopped = std::async(std::launch::async, [&] { server.stop(); });
    ASSERT_TRUE(waitUntil([&] { return server.isStopping(); }, 5000));
    release.set_value();
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    first.get();
    second.get();
    EXPECT_EQ(server.getCalls, 1);
}

TEST(HttpServerStart, AStartThatFailsHalfWayReleasesWhatItBuilt) {
    TestHttpServer server;
    server.onGet = [](TestHttpServer& s, evhttp_request* req) { replyText(s, req, "up"); };
    const quint16 port = freePort();
    const int fds = procEntries("/proc/self/fd");
    const int threads = procEntries("/proc/self/task");
    // A loop takes the descriptors of its event base, then its copy of the listening socket.
    server.setThreadCount(1);
    ASSERT_TRUE(server.start(kLoopback, port));
    const int perLoop = procEntries("/proc/self/fd") - fds - 1;
    server.stop();
    ASSERT_EQ(procEntries("/proc/self/fd"), fds);

    // Room for the socket, two loops and the event base of a third, which then finds no
    // descriptor to accept on (libevent itself exits when an event base finds none).
    server.setThreadCount(8);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = limitLeaving(1 + 2 * perLoop + perLoop - 1);
    bool started = true;
    {
        MessageCapture capture;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
        started = server.start(kLoopback, port);
        setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_TRUE(capture.contains("[startServer] evhttp_accept_socket_with_handle failed."));
        EXPECT_EQ(capture.lines().filter("[dispose]11").size(), 2);  // the two whole loops
    }
    EXPECT_FALSE(started);
    EXPECT_EQ(procEntries("/proc/self/fd"), fds);
    EXPECT_TRUE(waitUntil([&] { return procEntries("/proc/self/task") == threads; }, 5000));

    // Nothing of the failed start holds the port.
    ASSERT_TRUE(server.start(kLoopback, port));
    EXPECT_EQ(httpGet(port, "/x").body, "up");
}
