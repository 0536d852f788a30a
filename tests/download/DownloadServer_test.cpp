// The download port's server over real sockets, with short limits: how it reads request heads,
// what slow and stalled clients cost and when they are closed, and what a client gets when
// the file is replaced while it downloads.
#include "download/DownloadServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include "core/MetricsRegistry.h"
#include "download/DownloadBody.h"
#include "download/DownloadMetrics.h"
#include "tests/support/HttpClient.h"
#include "tests/support/ServiceProcess.h"

namespace {

const QByteArray kPath = "/KORVA/dlPackage/app/f.bin";

QByteArray pattern(int size, char seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) data[i] = static_cast<char>(seed + i * 7 % 251);
    return data;
}

// A blocking client socket, closed with the object.
class Client {
  public:
    explicit Client(quint16 port, int receiveBuffer = 0) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~Client() { ::close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
    }
    // Up to `limit` bytes, or fewer once the server has closed; false when nothing more came
    // within timeoutMs.
    bool receive(QByteArray& into, qint64 limit, int timeoutMs = 10000) {
        char buffer[65536];
        while (into.size() < limit) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return false;
            const ssize_t got =
                ::recv(m_fd, buffer,
                       static_cast<size_t>(qMin<qint64>(sizeof(buffer), limit - into.size())), 0);
            if (got <= 0) {
                m_closed = true;
                return true;
            }
            into.append(buffer, static_cast<int>(got));
        }
        return true;
    }
    // Reads until the server closes; false when it has not within timeoutMs.
    bool receiveAll(QByteArray& into, int timeoutMs = 10000) {
        while (!m_closed)
            if (!receive(into, into.size() + (1 << 20), timeoutMs)) return false;
        return true;
    }
    bool closed() const { return m_closed; }

  private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
};

QByteArray bodyOf(const QByteArray& reply) {
    const int end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : reply.mid(end + 4);
}

class DownloadServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DownloadLimits limits;
        limits.headSeconds = 1;
        limits.sendSeconds = 1;
        limits.lingerSeconds = 1;
        limits.maxHeadBytes = 4096;
        m_server = std::make_unique<DownloadServer>(m_metrics, limits);
        // kPath names f.bin in the test's directory; any other path nothing.
        const std::string file = m_dir.filePath(QStringLiteral("f.bin")).toStdString();
        m_server->setResolver([file](const std::string& path, DownloadServer::Served& served) {
            if (path != kPath.toStdString()) return DownloadServer::Lookup::NotFound;
            served.path = file;
            return DownloadServer::Lookup::Found;
        });
        ASSERT_TRUE(m_server->start(0, 2));
        m_port = m_server->port();
        ASSERT_NE(m_port, 0);
    }

    QString serveFile(const QByteArray& data) {
        const QString file = m_dir.filePath(QStringLiteral("f.bin"));
        writeTo(file, data);
        return file;
    }
    static void writeTo(const QString& file, const QByteArray& data) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
    }
    bool noConnectionsLeft() {
        return waitUntil([this] { return m_server->openConnections() == 0; }, 10000);
    }

    MetricsRegistry m_registry;
    DownloadMetrics m_metrics{m_registry};
    QTemporaryDir m_dir;
    std::unique_ptr<DownloadServer> m_server;
    quint16 m_port = 0;
};

TEST_F(DownloadServerTest, RequestForms) {
    const QByteArray data = pattern(1024 * 1024, 'q');
    serveFile(data);
    const QByteArray get = "GET " + kPath + " HTTP/1.1\r\nHost: x\r\n";
    QByteArray manyFields = get;
    for (int i = 0; i < 65; ++i) manyFields += "X-" + QByteArray::number(i) + ": 1\r\n";
    struct Case {
        const char* label;
        QByteArray request;
        QByteArray statusLine;
        bool file;  // the body is the file
    };
    const Case cases[] = {
        {"plain", get + "\r\n", "HTTP/1.1 200 OK", true},
        {"query", "GET " + kPath + "?x=1 HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", true},
        {"dot segments", "GET /KORVA/dlPackage/x/../app/./f.bin HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200 OK", true},
        {"escapes", "GET /KORVA/dlPackage/app/%66.bin HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", true},
        {"absolute form", "GET http://h:1" + kPath + " HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", true},
        {"HTTP/1.0", "GET " + kPath + " HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK", true},
        {"line feeds only", "GET " + kPath + " HTTP/1.1\nHost: x\n\n", "HTTP/1.1 200 OK", true},
        {"empty lines first", "\r\n\r\n" + get + "\r\n", "HTTP/1.1 200 OK", true},
        // The body it was not asked for is read away, so the reply is not cut by a reset.
        {"body sent along",
         "POST " + kPath + " HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + QByteArray(100000, 'p'),
         "HTTP/1.1 200 OK", true},
        {"unknown method", "FOO " + kPath + " HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"no version", "GET " + kPath + "\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"version 2", "GET " + kPath + " HTTP/2.0\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"relative target", "GET f.bin HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"field without colon", get + "Range bytes=0-1\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"too many fields", manyFields + "\r\n", "HTTP/1.1 431 Request Header Fields Too Large",
         false},
        {"head too large", get + "X-Big: " + QByteArray(5000, 'b') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large", false},
    };
    for (const Case& c : cases) {
        Client client(m_port, 16 * 1024);
        ASSERT_TRUE(client.connected()) << c.label;
        ASSERT_TRUE(client.send(c.request)) << c.label;
        QByteArray reply;
        ASSERT_TRUE(client.receiveAll(reply)) << c.label;
        EXPECT_TRUE(reply.startsWith(c.statusLine + "\r\n"))
            << c.label << ": " << reply.left(60).constData();
        if (c.file)
            EXPECT_TRUE(bodyOf(reply) == data) << c.label;
        else
            EXPECT_TRUE(bodyOf(reply).startsWith("Error ")) << c.label;
    }
    EXPECT_TRUE(noConnectionsLeft());
}

// Clients that never finish their head, silent ones and ones that keep trickling bytes, cost
// their connection and nothing else: a download runs meanwhile, and each of them is closed
// once its head is overdue, unanswered.
TEST_F(DownloadServerTest, SlowAndSilentClientsHoldUpNobodyAndAreClosedAtTheHeadDeadline) {
    const QByteArray data = pattern(2 * 1024 * 1024, 'd');
    serveFile(data);
    std::vector<std::unique_ptr<Client>> silent;
    std::vector<std::unique_ptr<Client>> trickling;
    for (int i = 0; i < 100; ++i) {
        silent.push_back(std::make_unique<Client>(m_port));
        trickling.push_back(std::make_unique<Client>(m_port));
        ASSERT_TRUE(silent.back()->connected() && trickling.back()->connected());
        ASSERT_TRUE(trickling.back()->send("GET " + kPath + " HTTP/1.1\r\nX-Slow: "));
    }
    // A byte every 100 ms to each: a time-out that counts from the last byte would never end
    // these connections.
    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        while (!stop) {
            for (auto& client : trickling) client->send("a");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    const HttpResponse reply = httpGet(m_port, kPath);
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body == data);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int stillOpen = 0;
    for (auto* group : {&silent, &trickling}) {
        for (auto& client : *group) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            QByteArray received;
            if (!client->receiveAll(received, std::max<int>(0, static_cast<int>(left.count()))))
                ++stillOpen;
            EXPECT_TRUE(received.isEmpty()) << received.left(40).constData();
        }
    }
    EXPECT_EQ(stillOpen, 0);
    stop = true;
    trickler.join();
    EXPECT_TRUE(noConnectionsLeft());
}

// A client that stops reading is closed once sending has made no progress for the limit.
TEST_F(DownloadServerTest, AClientThatStopsReadingIsClosed) {
    const QString file = m_dir.filePath(QStringLiteral("f.bin"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.resize(256LL * 1024 * 1024));
    }
    Client client(m_port, 16 * 1024);
    ASSERT_TRUE(client.send("GET " + kPath + " HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(waitUntil([this] { return m_server->openConnections() == 1; }));
    EXPECT_TRUE(noConnectionsLeft());
    QByteArray received;
    EXPECT_TRUE(client.receiveAll(received));
    EXPECT_LT(received.size(), 256LL * 1024 * 1024);
}

// The reply is sent from the descriptor it was begun with: a file renamed over the served one
// (as an upload puts a package in place) reaches new requests only.
TEST_F(DownloadServerTest, AFileReplacedDuringADownloadIsSentWholeInItsFirstVersion) {
    const QByteArray first = pattern(8 * 1024 * 1024, 'a');
    const QByteArray second = pattern(8 * 1024 * 1024 + 7, 'b');
    const QString file = serveFile(first);
    Client client(m_port, 16 * 1024);
    ASSERT_TRUE(client.send("GET " + kPath + " HTTP/1.1\r\n\r\n"));
    QByteArray reply;
    ASSERT_TRUE(client.receive(reply, 64 * 1024));

    const QString next = m_dir.filePath(QStringLiteral("next.bin"));
    writeTo(next, second);
    ASSERT_EQ(std::rename(next.toLocal8Bit().constData(), file.toLocal8Bit().constData()), 0);

    ASSERT_TRUE(client.receiveAll(reply));
    EXPECT_TRUE(bodyOf(reply) == first) << "got " << bodyOf(reply).size() << " bytes";
    EXPECT_TRUE(reply.contains("Content-Length: " + QByteArray::number(first.size()) + "\r\n"));
    EXPECT_TRUE(httpGet(m_port, kPath).body == second);
    // The file leaves in pieces; a range across a seam is whole.
    const qint64 seam = DownloadBody::kPiece;
    ASSERT_GT(second.size(), seam + 3);
    const HttpResponse part = httpGet(m_port, kPath,
                                      {{"Range", "bytes=" + QByteArray::number(seam - 100) + "-" +
                                                     QByteArray::number(seam + 3)}});
    EXPECT_EQ(part.status, 206);
    EXPECT_TRUE(part.body == second.mid(seam - 100, 104));
}

}  // namespace
