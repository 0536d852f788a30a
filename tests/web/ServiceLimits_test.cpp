// The management server's limits as the service sets them from config.ini: a stalled request is
// closed, bodies beyond the budget are refused at once, and other clients are served meanwhile;
// over HTTP and over HTTPS alike.

#include <algorithm>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include "tests/support/WebServiceFixture.h"

namespace {

QByteArray uploadHead(qint64 length) {
    return "POST /KORVA/uploadExcel?name=l.csv HTTP/1.1\r\nHost: x\r\nContent-Length: " +
           QByteArray::number(length) + "\r\n\r\n";
}

class ServiceLimitsTest : public ::testing::TestWithParam<bool> {};

TEST_P(ServiceLimitsTest, StalledAndOverBudgetRequestsDoNotHoldUpOthers) {
    ServiceProcess service;
    service.setParam("HttpStallTimeOut", 2);
    service.setParam("HttpMaxBodyMemory", 1);  // MiB
    // The slow clients and a few more from this address (one just answered may not be closed
    // yet on the server's side).
    service.setParam("HttpMaxConnectionsPerAddress", 5);
    std::unique_ptr<TlsClients> tls;
    if (GetParam()) {
        QString certificate, key;
        ASSERT_TRUE(makeTestCertificate(service.appDir(), certificate, key));
        service.setParam("TlsCertificate", certificate);
        service.setParam("TlsKey", key);
        tls = std::make_unique<TlsClients>();
    }
    ASSERT_TRUE(service.start()) << service.output().constData();
    const quint16 port = service.httpPort();

    // A head that trickles, and an upload that holds 900 KiB of the budget and falls silent.
    std::unique_ptr<QTcpSocket> tricklerSocket = connectClient(port);
    ASSERT_TRUE(tricklerSocket);
    QTcpSocket& trickler = *tricklerSocket;
    trickler.write("GET /KORVA/packageList HTTP/1.1\r\n");
    std::unique_ptr<QTcpSocket> stalledSocket = std::make_unique<QTcpSocket>();
    const auto holdBudget = [&] {
        stalledSocket = connectClient(port);
        if (!stalledSocket) {
            stalledSocket = std::make_unique<QTcpSocket>();
            return;
        }
        stalledSocket->write(uploadHead(900 * 1024) + QByteArray(1024, 'x'));
        stalledSocket->waitForBytesWritten(5000);
    };
    holdBudget();

    // A second such upload is refused at once. The server may read the probe before the held
    // upload; the held one is then the refused one, and the two swap roles on the next try.
    QElapsedTimer waited;
    waited.start();
    bool refused = false;
    while (!refused && waited.elapsed() < 10000) {
        const QByteArray reply = rawExchange(port, uploadHead(900 * 1024), 1000);
        refused = reply.startsWith("HTTP/1.1 503 ") && reply.contains("\r\nRetry-After: ");
        if (!refused || stalledSocket->bytesAvailable() > 0 || stalledSocket->waitForReadyRead(0) ||
            stalledSocket->state() != QAbstractSocket::ConnectedState) {
            refused = false;
            holdBudget();
        }
    }
    ASSERT_TRUE(refused);

    // Meanwhile a small upload and a page are served.
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(httpRequest(port, "POST", "/KORVA/uploadExcel?name=l.csv", {}, "not a list").status,
              501);
    EXPECT_EQ(httpGet(port, "/KORVA/packageList").status, 200);
    EXPECT_LT(timer.elapsed(), 2000);

    // Both slow clients are closed near the stall time, unanswered; the budget comes back.
    QTcpSocket& stalled = *stalledSocket;
    QByteArray received;
    while (timer.elapsed() < 10000 && (trickler.state() == QAbstractSocket::ConnectedState ||
                                       stalled.state() == QAbstractSocket::ConnectedState)) {
        trickler.write("X");
        for (QTcpSocket* socket : {&trickler, &stalled})
            if (socket->waitForReadyRead(100)) received += socket->readAll();
    }
    EXPECT_EQ(trickler.state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(stalled.state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(received.isEmpty()) << received.constData();
    EXPECT_LT(timer.elapsed(), 6000);
    EXPECT_EQ(
        httpRequest(port, "POST", "/KORVA/uploadExcel?name=l.csv", {}, QByteArray(900 * 1024, 'y'))
            .status,
        501);

    // One address holds no more than its share of the connections; others are served. Beyond
    // it one is refused: 503 at once, or under TLS closed before the handshake. Which one is not
    // fixed, as connections accepted together are counted in the order their timers fire.
    const QHostAddress hog(QStringLiteral("127.0.0.2"));
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 6; ++i) held.push_back(connectClient(port, 5000, hog));
    int refusedCount = static_cast<int>(
        std::count_if(held.begin(), held.end(), [](const auto& socket) { return !socket; }));
    QElapsedTimer refusal;
    refusal.start();
    while (refusedCount == 0 && refusal.elapsed() < 3000)
        for (const auto& socket : held)
            if (socket && socket->waitForReadyRead(20) &&
                socket->readAll().startsWith("HTTP/1.1 503 "))
                ++refusedCount;
    EXPECT_EQ(refusedCount, 1);
    EXPECT_EQ(httpGet(port, "/KORVA/packageList").status, 200);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, ServiceLimitsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Tls" : "Plain";
                         });

}  // namespace
