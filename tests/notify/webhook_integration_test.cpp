// Webhooks of the real service, received by an HTTP server the test runs: an admin registers
// one, a terminal's identity conflict is sent to it signed, and an attempt that found the
// receiver down is retried until it answers; each attempt is listed for the admin and counted.
// A staged rollout whose terminals go quiet tells of them, of its nearing threshold and of its
// pause, each once, and of the stage an operator opens.
#include <QMessageAuthenticationCode>
#include <QTcpServer>
#include <QTcpSocket>

#include "tests/api/ConsoleFixture.h"
#include "tests/support/MetricsText.h"
#include "tests/support/TerminalConnection.h"
#include "tests/support/WebServiceFixture.h"

namespace {

// One POST as the receiver read it.
struct Received {
    QByteArray head;
    QByteArray body;
    QByteArray header(const QByteArray& name) const {
        for (const QByteArray& line : head.split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

// Answers every whole request 200 and keeps it; served from the test's event loop (waitUntil).
class Receiver {
  public:
    bool listen(quint16 port) {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { read(socket); });
            }
        });
        return m_server.listen(QHostAddress::LocalHost, port);
    }
    QList<Received> received;

  private:
    void read(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        Received request{buffer.left(end), QByteArray()};
        const int length = request.header("Content-Length").toInt();
        if (buffer.size() < end + 4 + length) return;
        request.body = buffer.mid(end + 4, length);
        received << request;
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        m_buffers.remove(socket);
    }
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

bool signedWith(const Received& request, const QByteArray& secret) {
    return request.header("X-Wayfarer-Signature") ==
           "sha256=" +
               QMessageAuthenticationCode::hash(request.body, secret, QCryptographicHash::Sha256)
                   .toHex();
}

QJsonArray deliveries(quint16 port, qint64 webhook) {
    const HttpResponse reply = httpGet(
        port, QByteArray("/KORVA/v2/webhooks/") + QByteArray::number(webhook) + "/deliveries");
    return jsonObject(reply.body).value("deliveries").toArray();
}

}  // namespace

TEST(Webhooks, SignedDeliveryRetriedUntilTheReceiverIsUp) {
    ServiceProcess service;
    service.setParam("WebhookRetrySeconds", 0.2);
    service.setParam("WebhookAttempts", 8);
    service.setParam("WebhookTimeoutSeconds", 60);
    ASSERT_TRUE(service.start()) << service.output().constData();
    const quint16 http = service.httpPort();
    const QList<QPair<QByteArray, QByteArray>> json{{"Content-Type", "application/json"}};

    const quint16 receiverPort = freePort();  // nobody listens there yet
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(receiverPort) + "/hook";
    const struct {
        QByteArray body;
        int status;
    } creations[] = {
        {R"({"url":"ftp://127.0.0.1/x","events":["identity_conflict"]})", 400},
        {R"({"url":")" + url + R"(","events":["no_such_event"]})", 400},
        {R"({"url":")" + url + R"(","events":[]})", 400},
        {R"({"url":")" + url + R"(","events":["identity_conflict","stage_opened"]})", 201},
    };
    HttpResponse created;
    for (const auto& c : creations) {
        created = httpRequest(http, "POST", "/KORVA/v2/webhooks", json, c.body);
        EXPECT_EQ(created.status, c.status) << c.body.constData();
    }
    const QJsonObject webhook = jsonObject(created.body);
    const QByteArray secret = webhook.value("secret").toString().toUtf8();
    const qint64 id = webhook.value("id").toInt();
    ASSERT_FALSE(secret.isEmpty());
    const QJsonArray listed =
        jsonObject(httpGet(http, "/KORVA/v2/webhooks").body).value("webhooks").toArray();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_FALSE(listed[0].toObject().contains("secret"));
    // Another receiver takes the connection and never answers: it holds up no other.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    EXPECT_EQ(httpRequest(http, "POST", "/KORVA/v2/webhooks", json,
                          R"({"url":"http://127.0.0.1:)" + QByteArray::number(silent.serverPort()) +
                              R"(/","events":["identity_conflict"]})")
                  .status,
              201);

    // An impostor of a pinned terminal: the conflict is the event.
    ServiceDb db(service.path("WFS.db"));
    ASSERT_TRUE(
        db.exec("insert into Tab_DeviceInfo(devSN,devType,devId) "
                "values('WH-PIN','T1','REAL-ID')"));
    TerminalConnection impostor(service.tcpPort(), "FAKE-ID");
    DeviceReport report;
    report.devSN = "WH-PIN";
    report.devType = "T1";
    ASSERT_TRUE(impostor.connected() && impostor.report(report));

    // The receiver is down: the first attempt fails and is listed as such.
    ASSERT_TRUE(waitUntil([&] { return !deliveries(http, id).isEmpty(); }));
    const QJsonObject failed = deliveries(http, id).last().toObject();
    EXPECT_EQ(failed.value("outcome").toString(), "retrying");
    EXPECT_EQ(failed.value("status").toInt(), 0);
    EXPECT_EQ(failed.value("attempt").toInt(), 1);

    Receiver receiver;
    ASSERT_TRUE(receiver.listen(receiverPort));
    ASSERT_TRUE(waitUntil([&] { return !receiver.received.isEmpty(); }));
    const Received& got = receiver.received.first();
    EXPECT_EQ(
        got.header("X-Wayfarer-Signature"),
        "sha256=" +
            QMessageAuthenticationCode::hash(got.body, secret, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(got.header("X-Wayfarer-Event"), "identity_conflict");
    EXPECT_TRUE(got.head.startsWith("POST /hook HTTP/1.1"));
    const QJsonObject payload = jsonObject(got.body);
    EXPECT_EQ(payload.value("event").toString(), "identity_conflict");
    EXPECT_EQ(payload.value("id").toString(), failed.value("deliveryId").toString());
    EXPECT_EQ(payload.value("data").toObject().value("devSN").toString(), "WH-PIN");
    EXPECT_EQ(payload.value("data").toObject().value("devId").toString(), "FAKE-ID");

    ASSERT_TRUE(waitUntil(
        [&] { return deliveries(http, id).first().toObject().value("outcome") == "delivered"; }));
    const QJsonObject delivered = deliveries(http, id).first().toObject();
    EXPECT_EQ(delivered.value("status").toInt(), 200);
    EXPECT_GE(delivered.value("attempt").toInt(), 2);
    EXPECT_EQ(delivered.value("deliveryId"), failed.value("deliveryId"));

    MetricsText metrics;
    QString error;
    ASSERT_TRUE(metrics.parse(httpGet(http, "/metrics").body, error)) << error.toStdString();
    EXPECT_EQ(metrics.value("wayfarer_webhook_attempts_total", {{"result", "delivered"}}), 1);
    EXPECT_EQ(metrics.value("wayfarer_webhook_attempts_total", {{"result", "failed"}}),
              delivered.value("attempt").toInt() - 1);
    EXPECT_EQ(metrics.value("wayfarer_webhook_pending"), 1);  // the silent one

    EXPECT_EQ(httpRequest(http, "DELETE", "/KORVA/v2/webhooks/" + QByteArray::number(id)).status,
              204);
    EXPECT_EQ(httpGet(http, "/KORVA/v2/webhooks/" + QByteArray::number(id) + "/deliveries").status,
              404);
}

class WebhookRolloutTest : public ConsoleTest {};

TEST_F(WebhookRolloutTest, TellsOfStallsTheNearingThresholdThePauseAndAnOpenedStage) {
    m_service.setParam("RolloutCheckSeconds", "0.2");
    m_service.setParam("UpgradeStallMinutes", "0.02");  // 1.2 s
    ASSERT_TRUE(startService()) << m_service.output().constData();
    Receiver receiver;
    const quint16 receiverPort = freePort();
    ASSERT_TRUE(receiver.listen(receiverPort));
    const QJsonObject webhook =
        json("POST", "/KORVA/v2/webhooks",
             R"({"url":"http://127.0.0.1:)" + QByteArray::number(receiverPort) +
                 R"(/","events":["rollout_paused","failure_threshold_near","terminals_stalled",)"
                 R"("stage_opened"]})",
             201);
    const QByteArray secret = webhook.value("secret").toString().toUtf8();

    QStringList rows;
    for (int i = 1; i <= 5; ++i) rows << QStringLiteral("'S%1','T1','V1'").arg(i);
    seed("devSN,devType,AppVersion", rows);
    addPackage("T1", "quiet.bin", "V2", 1000);
    const int id = m_db->value("select id from Tab_Package").toInt();
    json("PUT", "/KORVA/v2/packages/" + QByteArray::number(id) + "/plan",
         R"({"stages":[{"serials":["S1","S2","S3","S4","S5"]},{"percent":100}],)"
         R"("pauseAtFailures":5})");
    const auto events = [&](const QString& name) {
        QList<QJsonObject> out;
        for (const Received& request : receiver.received) {
            const QJsonObject payload = jsonObject(request.body);
            if (payload.value("event") == name && signedWith(request, secret))
                out << payload.value("data").toObject();
        }
        return out;
    };
    // Offered the package, four terminals go quiet: 4 of 5 failures is near the threshold.
    std::vector<std::unique_ptr<FakeTerminal>> quiet;
    const auto offer = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            DeviceReport identity;
            identity.devSN = QStringLiteral("S%1").arg(i);
            identity.devType = "T1";
            identity.AppVersion = "V1";
            quiet.push_back(report(identity));
            ASSERT_TRUE(quiet.back());
        }
    };
    offer(1, 4);
    ASSERT_TRUE(waitUntil([&] { return !events("failure_threshold_near").isEmpty(); }));
    EXPECT_EQ(events("failure_threshold_near").first().value("failed").toInt(), 4);
    EXPECT_TRUE(events("rollout_paused").isEmpty());

    offer(5, 5);
    ASSERT_TRUE(waitUntil([&] { return !events("rollout_paused").isEmpty(); }));
    const QJsonObject paused = events("rollout_paused").first();
    EXPECT_EQ(paused.value("packageId").toInt(), id);
    EXPECT_FALSE(paused.value("reason").toString().isEmpty());
    EXPECT_EQ(events("failure_threshold_near").size(), 1);  // not again at every look
    ASSERT_TRUE(waitUntil([&] {
        const QList<QJsonObject> stalls = events("terminals_stalled");
        return !stalls.isEmpty() && stalls.last().value("stalled").toInt() == 5;
    }));
    int newly = 0;
    for (const QJsonObject& stall : events("terminals_stalled"))
        newly += stall.value("newlyStalled").toInt();
    EXPECT_EQ(newly, 5);

    // An operator's change is told as well.
    EXPECT_TRUE(events("stage_opened").isEmpty());
    json("POST", "/KORVA/v2/packages/" + QByteArray::number(id) + "/plan/advance");
    ASSERT_TRUE(waitUntil([&] { return !events("stage_opened").isEmpty(); }));
    EXPECT_EQ(events("stage_opened").first().value("stage").toInt(), 2);
}
