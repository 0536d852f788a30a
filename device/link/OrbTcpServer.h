#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include <QAbstractSocket>
#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QVector>

#include "core/ProxyTrust.h"
#include "device/BurstLog.h"
#include "device/SlotPriority.h"

class IoThreadPool;
class OrbTcpSocket;
class ScrapeHook;
class TcpDataMgtApi;
class TerminalMetrics;

// Accepts terminal connections onto a fixed pool of I/O threads, up to the connection limit
// (MaxConnCount, cut to what the open-file limit holds); drops connections silent for longer
// than the idle limit or unidentified past the identification limit; carries packets to
// TcpDataMgtApi and answers back.
class OrbTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    static constexpr int kIdleLimitSecs = 120;
    static constexpr int kCheckIntervalMs = 2000;
    static constexpr int kIdentifyLimitSecs = 15;
    static constexpr int kLogWindowMs = 5000;
    static constexpr int kAcceptPauseMs = 1000;
    static constexpr int kProxyHeaderLimitMs = 5000;
    static constexpr int kProvisionalLimitMs = 5000;

    struct Limits {
        int maxConnCount = -1;  // < 0: the default of MaxConnCount
        int idleLimitSecs = kIdleLimitSecs;
        int checkIntervalMs = kCheckIntervalMs;
        int identifyLimitSecs = kIdentifyLimitSecs;
        int logWindowMs = kLogWindowMs;  // at most one line per window for refusals and the like
        int acceptPauseMs = kAcceptPauseMs;
        qint64 maxPendingWriteBytes = 256 * 1024;  // per connection, then it is closed
        int maxPacketsInFlight = 32;  // per connection, then it is read no further for now
        int ioThreads = 0;            // 0: max(2, QThread::idealThreadCount())
        // Connections come through a load balancer and begin with a PROXY header naming the
        // terminal; one without a valid header within proxyHeaderLimitMs is closed.
        bool proxyProtocol = false;
        int proxyHeaderLimitMs = kProxyHeaderLimitMs;
        // The balancers whose header is believed; a connection from any other peer is served as
        // a direct one under that peer's address.
        ProxyTrust proxyTrusted;
        // A newcomer taken over the limit (see SlotPriority) that has not shown itself a known
        // terminal by then is closed.
        int provisionalLimitMs = kProvisionalLimitMs;
        // The packets of one pass of the event loop are handled as one batch, their database
        // work in one transaction, at most this many or for about this long; the rest go in
        // the next pass, so the web and the timers get their turn and database writers of
        // other threads wait for the write lock no longer than that.
        int batchPackets = 256;
        int batchMs = 5;
    };

    // The server hands each packet to handler and counts into metrics; both outlive it.
    // maxConnCount < 0: the default of MaxConnCount. Tests shorten the idle timings.
    OrbTcpServer(TcpDataMgtApi& handler, TerminalMetrics& metrics, QObject* parent = nullptr,
                 int maxConnCount = -1, int idleLimitSecs = kIdleLimitSecs,
                 int checkIntervalMs = kCheckIntervalMs);
    OrbTcpServer(TcpDataMgtApi& handler, TerminalMetrics& metrics, const Limits& limits,
                 QObject* parent = nullptr);
    ~OrbTcpServer() override;

    int connectionCount() const;
    // min(MaxConnCount, the terminals the open-file limit holds).
    int connectionLimit() const { return m_connLimit; }
    int ioThreadCount() const;

    // listen() with a deeper accept queue than Qt's fixed 50, so a fleet reconnecting at once
    // (after a network outage, or a service restart) is not dropped at the handshake: a dropped
    // handshake costs the terminal a 1 s, then 3 s, retransmission. The kernel cuts it to
    // net.core.somaxconn.
    static constexpr int kListenBacklog = 65535;
    bool listenDeep(const QHostAddress& address, quint16 port, int backlog = kListenBacklog);

  signals:
    // A new connection and its terminal's address: at accept, or with the PROXY protocol once
    // the header named it; before any of its packets.
    void connectClient(qintptr socketId, QString address, quint16 port);
    void sockDisConnect(qintptr socketId, QString address, quint16 port);
    void sentData(QByteArray packet, qintptr socketId);

  public slots:
    void setData(QByteArray data, qintptr handle);
    void readDataSlot(qintptr socketId, QString address, quint16 port, QByteArray packet);
    void sockDisConnectSlot(qintptr handle, QString ip, quint16 prot);
    // Closes a connection as the idle check does, at the message handler's request.
    void closeConnection(qintptr socketId);
    // Closes up to `count` connections, those silent longest first (a terminal in the middle of
    // an exchange goes last); the number closed.
    int closeQuietest(int count);
    void checkHeartStatus();
    void pause();
    void resume();

  protected:
    void incomingConnection(qintptr socketDescriptor) override;
    // Hands one whole packet to the message handler; tests observe the traffic here.
    virtual void deliver(qintptr socketId, const QByteArray& packet);

  private:
    struct Inbound {
        OrbTcpSocket* socket;  // alive while queued: a socket retired drops its packets first
        qintptr socketId;
        QByteArray packet;
    };
    struct Outbound {
        qintptr socketId;
        QByteArray data;  // an answer, or the connection is to be closed
        bool close;
    };
    // What the handler sends while a batch is open is held until the batch's writes are
    // committed; otherwise it is queued at once.
    void fromHandler(Outbound out);
    void postBatch();
    void handleBatch();
    void dropQueued(OrbTcpSocket* socket);
    bool hasQueued(const QString& key, qintptr socketId) const;

    static QString connectionKey(const QString& address, quint16 port);
    // Closes the longest-idle connection that never identified itself; false when none is open.
    bool evictUnidentified();
    // What the message handler learnt from a connection's report; false: it is to be closed.
    bool onStanding(qintptr socketId, SlotPriority::Standing standing);
    // Counts a newcomer turned away at the limit, at its accept or as a provisional one.
    void countRefusal();
    void onAcceptError(QAbstractSocket::SocketError error);
    void releaseSocket(OrbTcpSocket* socket);
    // Releases a socket whose disconnect is being reported.
    void retireSocket(OrbTcpSocket* socket, const QString& ip, quint16 port);
    void flushLogs(bool force);

    const Limits m_limits;
    TcpDataMgtApi* const m_tcpDataMgtApi;
    TerminalMetrics& m_metrics;
    std::atomic<bool> m_isPaused{false};
    const int m_maxConnCount;
    const int m_connLimit;
    std::unique_ptr<IoThreadPool> m_ioPool;

    // Guards m_connections and m_bySocketId (a std::mutex, so that thread sanitizer builds see
    // the locking).
    mutable std::mutex m_mapMutex;
    QMap<QString, OrbTcpSocket*> m_connections;
    // The same sockets by socket ID: an answer goes straight to its own socket's thread instead
    // of waking every connection's thread to compare IDs.
    QHash<qintptr, OrbTcpSocket*> m_bySocketId;
    // Connections not known to have identified themselves, by accept order: the candidates to
    // make room. Entries found identified are dropped as the candidates are searched. Server
    // thread only.
    QMap<quint64, OrbTcpSocket*> m_unidentified;
    QHash<OrbTcpSocket*, quint64> m_acceptOrder;
    quint64 m_acceptSequence = 1;  // 0 is never a key

    // Socket IDs are never used twice, so a retired connection's events still queued cannot
    // reach the next terminal (a descriptor number would be handed out again at once). Server
    // thread only.
    qintptr m_nextSocketId = 1;

    BurstLog m_refusals;
    BurstLog m_evictions;
    BurstLog m_unidentifiedDrops;
    BurstLog m_acceptFailures;
    BurstLog m_headerDrops;
    BurstLog m_unprovenEvictions;
    BurstLog m_untrustedHeaders;
    SlotPriority m_slots;

    // The batch: server thread only. m_inbox is bounded by the connections times the packets a
    // socket has in flight.
    std::deque<Inbound> m_inbox;
    QHash<OrbTcpSocket*, int> m_queued;  // packets in m_inbox per socket
    bool m_batchPosted = false;
    bool m_inBatch = false;
    // Packets the last batch handled: the next one reads ahead about as many, not what its
    // time limit would leave unhandled.
    int m_lastBatchHandled = 0;
    bool m_holding = false;
    QVector<Outbound> m_held;

    std::atomic<bool> m_stop{false};
    QFuture<void> m_heartCheck;
    std::unique_ptr<ScrapeHook> m_connectedGauge;  // the connections, read at each scrape
};
