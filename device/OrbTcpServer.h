#pragma once

#include <atomic>
#include <mutex>

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QSet>
#include <QString>
#include <QTcpServer>

class OrbTcpSocket;
class TcpDataMgtApi;

// Accepts terminal connections, one socket thread each, up to maxConnCount; drops connections
// silent for longer than the idle limit; carries packets to TcpDataMgtApi and answers back.
class OrbTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    static constexpr int kIdleLimitSecs = 120;
    static constexpr int kCheckIntervalMs = 2000;

    // maxConnCount < 0: the MaxConnCount parameter. Tests shorten the idle timings.
    explicit OrbTcpServer(QObject* parent = nullptr, int maxConnCount = -1,
                          int idleLimitSecs = kIdleLimitSecs,
                          int checkIntervalMs = kCheckIntervalMs);
    ~OrbTcpServer() override;

    int connectionCount() const;

    // listen() with a deeper accept queue than Qt's fixed 50, so a fleet reconnecting at once
    // (after a network outage, or a service restart) is not dropped at the handshake.
    static constexpr int kListenBacklog = 1024;
    bool listenDeep(const QHostAddress& address, quint16 port, int backlog = kListenBacklog);

  signals:
    void connectClient(qintptr socketId, QString address, quint16 port);
    void sockDisConnect(qintptr socketId, QString address, quint16 port);
    void sentData(QByteArray packet, qintptr socketId);

  public slots:
    void setData(QByteArray data, qintptr handle);
    void readDataSlot(qintptr socketId, QString address, quint16 port, QByteArray packet);
    void sockDisConnectSlot(qintptr handle, QString ip, quint16 prot);
    void checkHeartStatus();
    void pause();
    void resume();

  protected:
    void incomingConnection(qintptr socketDescriptor) override;
    // Hands one whole packet to the message handler; tests observe the traffic here.
    virtual void deliver(qintptr socketId, const QByteArray& packet);

  private:
    static QString connectionKey(const QString& address, quint16 port);
    void releaseSocket(OrbTcpSocket* socket);
    // Releases a socket whose disconnect is being reported: its ID stays reserved until the
    // events already queued for it, the report included, have been handled.
    void retireSocket(OrbTcpSocket* socket, const QString& ip, quint16 port);
    // Closes the reservations still open (the server is going away).
    void freeRetiredIds();

    TcpDataMgtApi* m_tcpDataMgtApi = nullptr;
    std::atomic<bool> m_isPaused{false};
    int m_maxConnCount = 0;
    const int m_idleLimitSecs;
    const int m_checkIntervalMs;

    // Guards m_connections and m_bySocketId (a std::mutex, so that thread sanitizer builds see
    // the locking).
    mutable std::mutex m_mapMutex;
    QMap<QString, OrbTcpSocket*> m_connections;
    // The same sockets by socket ID: an answer goes straight to its own socket's thread instead
    // of waking every connection's thread to compare IDs.
    QHash<qintptr, OrbTcpSocket*> m_bySocketId;

    // Descriptors reserving the IDs of retired sockets, closed by a queued call (server thread).
    QSet<int> m_retiredIds;

    std::atomic<bool> m_stop{false};
    QFuture<void> m_heartCheck;
};
