#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

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
