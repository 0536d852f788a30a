#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QUrl>

// One package download over plain HTTP/1.1 on a raw socket. With a break point the first
// transfer is cut after that many body bytes and resumed with a Range request, as a terminal
// on a poor link would; the size is checked against Content-Range or Content-Length.
class HttpDownload : public QObject {
    Q_OBJECT
  public:
    // breakAt <= 0: no break.
    HttpDownload(const QUrl& url, qint64 breakAt, QObject* parent = nullptr);

    void start();
    qint64 received() const { return m_body.size(); }
    const QByteArray& body() const { return m_body; }

  signals:
    void step(QString line);
    // ok: the whole file arrived and matched the announced size; else error says why.
    void finished(bool ok, QString error);

  private:
    void request();
    void onReadyRead();
    void onDisconnected();
    bool parseHead();
    void fail(const QString& error);
    void succeed();

    QUrl m_url;
    qint64 m_breakAt;
    bool m_broken = false;  // the planned break has happened
    bool m_done = false;
    QTcpSocket* m_socket = nullptr;
    QByteArray m_buffer;  // the reply head until it is complete
    bool m_headParsed = false;
    int m_status = 0;
    qint64 m_expectedTotal = -1;  // whole file size announced by the server
    qint64 m_replyLength = -1;    // body length of the current reply
    qint64 m_replyReceived = 0;
    QByteArray m_body;
};
