#include "tools/terminal/HttpDownload.h"

#include <QRegularExpression>

HttpDownload::HttpDownload(const QUrl& url, qint64 breakAt, QObject* parent)
    : QObject(parent), m_url(url), m_breakAt(breakAt) {}

void HttpDownload::start() {
    if (!m_url.isValid() || m_url.scheme() != QLatin1String("http") || m_url.host().isEmpty()) {
        fail(QStringLiteral("bad download url: ") + m_url.toString());
        return;
    }
    request();
}

void HttpDownload::request() {
    if (m_socket) m_socket->deleteLater();
    m_socket = new QTcpSocket(this);
    m_buffer.clear();
    m_headParsed = false;
    m_status = 0;
    m_replyLength = -1;
    m_replyReceived = 0;
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpDownload::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpDownload::onDisconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket->state() != QAbstractSocket::ConnectedState && !m_headParsed)
            fail(QStringLiteral("http connection failed: ") + m_socket->errorString());
    });
    const QString path = m_url.path(QUrl::FullyEncoded).isEmpty() ? QStringLiteral("/")
                                                                  : m_url.path(QUrl::FullyEncoded);
    QByteArray head = "GET " + path.toLatin1() + " HTTP/1.1\r\nHost: " + m_url.host().toLatin1() +
                      ":" + QByteArray::number(m_url.port(80)) + "\r\nConnection: close\r\n";
    if (!m_body.isEmpty()) head += "Range: bytes=" + QByteArray::number(m_body.size()) + "-\r\n";
    head += "\r\n";
    emit step(
        m_body.isEmpty()
            ? QStringLiteral("GET %1").arg(m_url.toString())
            : QStringLiteral("GET %1 Range: bytes=%2-").arg(m_url.toString()).arg(m_body.size()));
    m_socket->connectToHost(m_url.host(), static_cast<quint16>(m_url.port(80)));
    m_socket->write(head);
}

bool HttpDownload::parseHead() {
    const int end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) return false;
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    const QList<QByteArray> status = lines.value(0).trimmed().split(' ');
    m_status = status.value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon < 0) continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            m_replyLength = value.toLongLong();
        } else if (name == "content-range") {
            // bytes first-last/total
            const QRegularExpressionMatch match =
                QRegularExpression(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"))
                    .match(QString::fromLatin1(value));
            if (match.hasMatch()) m_expectedTotal = match.captured(3).toLongLong();
        }
    }
    m_headParsed = true;
    m_buffer = m_buffer.mid(end + 4);
    return true;
}

void HttpDownload::onReadyRead() {
    if (m_done) return;
    m_buffer.append(m_socket->readAll());
    if (!m_headParsed) {
        if (!parseHead()) return;
        const bool resumed = !m_body.isEmpty();
        if ((!resumed && m_status != 200) || (resumed && m_status != 206)) {
            fail(QStringLiteral("http status %1").arg(m_status));
            return;
        }
        if (!resumed && m_replyLength >= 0) m_expectedTotal = m_replyLength;
        emit step(QStringLiteral("http %1, length %2, total %3")
                      .arg(m_status)
                      .arg(m_replyLength)
                      .arg(m_expectedTotal));
    }
    QByteArray chunk;
    chunk.swap(m_buffer);
    if (m_breakAt > 0 && !m_broken && m_body.size() + chunk.size() >= m_breakAt) {
        chunk.truncate(static_cast<int>(m_breakAt - m_body.size()));
        m_body.append(chunk);
        m_broken = true;
        emit step(QStringLiteral("break transfer at byte %1").arg(m_body.size()));
        m_socket->disconnect(this);
        m_socket->abort();
        request();
        return;
    }
    m_body.append(chunk);
    m_replyReceived += chunk.size();
    if (m_replyLength >= 0 && m_replyReceived >= m_replyLength) succeed();
}

void HttpDownload::onDisconnected() {
    if (m_done) return;
    if (!m_headParsed) {
        fail(QStringLiteral("http connection closed without a reply"));
        return;
    }
    onReadyRead();
    if (!m_done) succeed();  // a reply without Content-Length ends at the close
}

void HttpDownload::succeed() {
    if (m_done) return;
    if (m_expectedTotal >= 0 && m_body.size() != m_expectedTotal) {
        fail(QStringLiteral("size mismatch: got %1, expected %2")
                 .arg(m_body.size())
                 .arg(m_expectedTotal));
        return;
    }
    m_done = true;
    if (m_socket) m_socket->disconnect(this);
    emit step(QStringLiteral("download complete, %1 bytes").arg(m_body.size()));
    emit finished(true, QString());
}

void HttpDownload::fail(const QString& error) {
    if (m_done) return;
    m_done = true;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished(false, error);
}
