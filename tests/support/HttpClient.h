#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>

class QTcpSocket;

// While one lives, the clients made here speak TLS and take any certificate, so that a test runs
// the same exchanges against an HTTPS server.
struct TlsClients {
    TlsClients();
    ~TlsClients();
    TlsClients(const TlsClients&) = delete;
    TlsClients& operator=(const TlsClients&) = delete;
    static bool active();
};

// A self-signed certificate and its key for 127.0.0.1, made by the openssl tool in dir; false
// when it failed.
bool makeTestCertificate(const QString& dir, QString& certificate, QString& key);

// A socket connected to the port (through its handshake under TlsClients), from the source
// address when one is given; null when the connection or the handshake failed.
std::unique_ptr<QTcpSocket> connectClient(quint16 port, int timeoutMs = 5000,
                                          const QHostAddress& source = QHostAddress());

// A blocking HTTP/1.1 client over a raw socket, for tests: one request per connection
// ("Connection: close"), the reply read until the server closes or Content-Length is reached.
struct HttpResponse {
    bool ok = false;  // a status line was received
    int status = 0;
    QByteArray reason;
    QList<QPair<QByteArray, QByteArray>> headers;  // in arrival order
    QByteArray body;

    QByteArray header(const QByteArray& name) const;  // first match, case-insensitive
    int headerCount(const QByteArray& name) const;
};

HttpResponse httpRequest(quint16 port, const QByteArray& method, const QByteArray& target,
                         const QList<QPair<QByteArray, QByteArray>>& headers = {},
                         const QByteArray& body = QByteArray(), int timeoutMs = 10000);

inline HttpResponse httpGet(quint16 port, const QByteArray& target,
                            const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
    return httpRequest(port, "GET", target, headers);
}

// Sends raw bytes and returns everything received until the peer closes or the time-out.
QByteArray rawExchange(quint16 port, const QByteArray& request, int timeoutMs = 10000);
