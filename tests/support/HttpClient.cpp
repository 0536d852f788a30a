#include "tests/support/HttpClient.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <atomic>

QByteArray HttpResponse::header(const QByteArray& name) const {
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
    return QByteArray();
}

int HttpResponse::headerCount(const QByteArray& name) const {
    int n = 0;
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) ++n;
    return n;
}

namespace {
std::atomic<int> tlsClients{0};
}  // namespace

TlsClients::TlsClients() {
    ++tlsClients;
}

TlsClients::~TlsClients() {
    --tlsClients;
}

bool TlsClients::active() {
    return tlsClients.load() > 0;
}

bool makeTestCertificate(const QString& dir, QString& certificate, QString& key) {
    certificate = dir + "/cert.pem";
    key = dir + "/key.pem";
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                              "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                              "/CN=127.0.0.1", "-keyout", key, "-out", certificate});
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
}

std::unique_ptr<QTcpSocket> connectClient(quint16 port, int timeoutMs, const QHostAddress& source) {
    std::unique_ptr<QTcpSocket> socket;
    if (TlsClients::active()) {
        auto tls = std::make_unique<QSslSocket>();
        tls->setPeerVerifyMode(QSslSocket::VerifyNone);
        if (!source.isNull()) tls->bind(source);
        tls->connectToHostEncrypted(QHostAddress(QHostAddress::LocalHost).toString(), port);
        if (!tls->waitForEncrypted(timeoutMs)) return nullptr;
        socket = std::move(tls);
    } else {
        socket = std::make_unique<QTcpSocket>();
        if (!source.isNull()) socket->bind(source);
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!socket->waitForConnected(timeoutMs)) return nullptr;
    }
    return socket;
}

namespace {
// Reads until the head is complete and, when a Content-Length is known, the body too.
bool complete(const QByteArray& data) {
    const int headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0) return false;
    const QByteArray head = data.left(headEnd).toLower();
    const int at = head.indexOf("\r\ncontent-length:");
    if (at < 0) return false;
    const int lineEnd = head.indexOf("\r\n", at + 2);
    const qint64 length =
        head.mid(at + 17, lineEnd < 0 ? -1 : lineEnd - at - 17).trimmed().toLongLong();
    return data.size() - (headEnd + 4) >= length;
}
}  // namespace

QByteArray rawExchange(quint16 port, const QByteArray& request, int timeoutMs) {
    const std::unique_ptr<QTcpSocket> connected = connectClient(port, timeoutMs);
    if (!connected) return QByteArray();
    QTcpSocket& socket = *connected;
    socket.write(request);
    socket.waitForBytesWritten(timeoutMs);
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() || socket.waitForReadyRead(50)) data += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState) {
            data += socket.readAll();
            break;
        }
        if (complete(data)) break;
    }
    return data;
}

HttpResponse httpRequest(quint16 port, const QByteArray& method, const QByteArray& target,
                         const QList<QPair<QByteArray, QByteArray>>& headers,
                         const QByteArray& body, int timeoutMs) {
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    request += "Connection: close\r\n";
    for (const auto& h : headers) request += h.first + ": " + h.second + "\r\n";
    if (!body.isEmpty() || method == "POST" || method == "PUT")
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;

    const QByteArray data = rawExchange(port, request, timeoutMs);
    HttpResponse response;
    const int headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0) return response;
    const QList<QByteArray> lines = data.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    if (statusLine.size() < 2 || !statusLine[0].startsWith("HTTP/")) return response;
    response.ok = true;
    response.status = statusLine[1].toInt();
    const int reasonAt = lines.value(0).indexOf(' ', lines.value(0).indexOf(' ') + 1);
    if (reasonAt > 0) response.reason = lines.value(0).mid(reasonAt + 1);
    if (response.reason.endsWith('\r')) response.reason.chop(1);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line =
            lines[i].endsWith('\r') ? lines[i].left(lines[i].size() - 1) : lines[i];
        const int colon = line.indexOf(':');
        if (colon > 0) response.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    response.body = data.mid(headEnd + 4);
    return response;
}
