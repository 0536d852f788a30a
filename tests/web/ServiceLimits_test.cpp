// The management server's limits as the service sets them from config.ini: a stalled request is
// closed, bodies beyond the budget are refused at once, and other clients are served meanwhile.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include "tests/support/WebServiceFixture.h"

namespace {

QByteArray uploadHead(qint64 length) {
    return "POST /KORVA/uploadExcel?name=l.csv HTTP/1.1\r\nHost: x\r\nContent-Length: " +
           QByteArray::number(length) + "\r\n\r\n";
}

TEST(ServiceLimitsTest, StalledAndOverBudgetRequestsDoNotHoldUpOthers) {
    ServiceProcess service;
    service.setParam("HttpStallTimeOut", 2);
    service.setParam("HttpMaxBodyMemory", 1);  // MiB
    ASSERT_TRUE(service.start()) << service.output().constData();
    const quint16 port = service.httpPort();

    // A head that trickles, and an upload that holds 900 KiB of the budget and falls silent.
    QTcpSocket trickler, stalled;
    trickler.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(trickler.waitForConnected(5000));
    trickler.write("GET /KORVA/packageList HTTP/1.1\r\n");
    const auto holdBudget = [&] {
        stalled.abort();
        stalled.connectToHost(QHostAddress::LocalHost, port);
        if (!stalled.waitForConnected(5000)) return;
        stalled.write(uploadHead(900 * 1024) + QByteArray(1024, 'x'));
        stalled.waitForBytesWritten(5000);
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
        if (!refused || stalled.bytesAvailable() > 0 || stalled.waitForReadyRead(0) ||
            stalled.state() != QAbstractSocket::ConnectedState) {
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
}

}  // namespace
