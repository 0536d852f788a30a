#pragma once

#include <atomic>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "codec/PacketFramer.h"

class QSocketNotifier;

// One terminal connection, hosted by one of the server's I/O threads together with many others:
// cuts the received stream into whole packets, tells apart packets that prove the terminal alive
// and the report that identifies it, and writes the answers addressed to its socket ID. On its
// bare descriptor, not a QTcpSocket: an idle terminal then costs no read or write buffer (Qt's
// socket keeps a 16 KiB block of each once used) and no engine or notifiers beyond one.
class OrbTcpSocket : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxPendingWriteBytes = 256 * 1024;
    static constexpr int kMaxPacketsInFlight = 32;
    // Read from the kernel this much at a time, into the reading thread's stack: the socket
    // keeps no read buffer of its own, only a packet not yet whole.
    static constexpr int kReadSliceBytes = 16 * 1024;

    // socketId names the connection to the rest of the service: never the descriptor, whose
    // number the kernel hands to the next terminal as soon as this one is closed. proxyHeader:
    // the connection comes through a load balancer that first sends a PROXY protocol header
    // naming the terminal; nothing else is read before it.
    OrbTcpSocket(qintptr socketDescriptor, qintptr socketId, QObject* parent = nullptr,
                 qint64 maxPendingWriteBytes = kMaxPendingWriteBytes,
                 int maxPacketsInFlight = kMaxPacketsInFlight, bool proxyHeader = false);
    ~OrbTcpSocket() override;

    // Milliseconds of a monotonic clock (steady across changes of the wall clock).
    static qint64 nowMs();

    qintptr socketId() const { return m_socketId; }
    QString peerAddressText() const { return m_peerAddress; }
    quint16 peerPortNumber() const { return m_peerPort; }
    qint64 connectedAtMs() const { return m_connectedAtMs; }
    // nowMs() of the creation or of the last packet that passed the check code and parsed.
    qint64 lastActiveMs() const { return m_lastActiveMs.load(); }
    // A device report with a serial number has arrived on this connection.
    bool identified() const { return m_identified.load(); }
    // The PROXY header is still expected (any thread).
    bool awaitingProxyHeader() const { return m_awaitingProxyHeader.load(); }
    // Closed for answers left unread: its packets still waiting are not to be handled.
    bool closedForOutput() const { return m_closedForOutput.load(); }

    // Tells the server that this connection is to be cleaned up (disconnect or idle drop).
    void reportDisconnect();

    // The server has handled one packet of this socket (any thread). True when the socket had
    // stopped reading for the packets in flight and is to be resumed with thisReadData.
    bool packetHandled();

  signals:
    void readData(qintptr socketId, QString address, quint16 port, QByteArray packet);
    void sockDisConnect(qintptr socketId, QString address, quint16 port);
    // The PROXY header named the terminal behind the balancer (its own peer when the header
    // names none); ahead of every packet of the connection.
    void clientKnown(qintptr socketId, QString address, quint16 port);

  public slots:
    void thisReadData();
    void sentData(QByteArray packet, qintptr socketId);
    // Sends what the kernel takes of the answers still buffered, closes the connection and
    // deletes the socket; in the socket's own thread, its signals no longer of interest.
    void dispose();

  private slots:
    void watch();

  private:
    // Stops watching and closes the descriptor; the terminal counts as gone from then on.
    void shut();
    // shut() from this side: what the terminal sent before still goes to the handler, then its
    // disconnect.
    void lose();
    // Sends what the kernel takes of m_unsent; false when the connection has failed.
    bool sendUnsent();
    void onWritable();
    void notePacket(const QByteArray& packet);
    // False once maxPacketsInFlight packets wait for the server: reading stops, the kernel's
    // buffer fills, and TCP slows the terminal down to the pace of the service.
    bool mayCut();
    // Hands on what was received (cutReceived) and, once a terminal that left has nothing more
    // to hand on, reports its disconnect.
    void cut();
    // Cuts and hands on the whole packets received while mayCut() allows, reading from the
    // socket only when no whole packet waits in the framer. False when it stopped at the cap.
    bool cutReceived();
    // Reads the PROXY header; true once it is complete and what follows is in the framer.
    bool takeProxyHeader();
    // At most one slice of what the kernel holds; empty when nothing waits (or the terminal has
    // gone: then m_peerGone is set).
    QByteArray readSlice();
    void watchReads(bool on);

    std::atomic<bool> m_built{false};  // the constructor is done (see watch())
    int m_fd;
    QSocketNotifier* m_readable = nullptr;
    QSocketNotifier* m_writable = nullptr;  // made only once an answer waits for the kernel
    QByteArray m_unsent;                    // answers the kernel has not taken yet
    // Written by this socket's thread, read by the server's idle check and its accept.
    std::atomic<qint64> m_lastActiveMs;
    std::atomic<bool> m_identified{false};
    const qint64 m_connectedAtMs;
    const qintptr m_socketId;
    const qint64 m_maxPendingWriteBytes;
    const int m_maxPacketsInFlight;
    std::atomic<int> m_inFlight{0};
    std::atomic<bool> m_readPaused{false};
    bool m_overflowed = false;
    bool m_peerGone = false;  // disconnected; reported once what it sent has been handed on
    bool m_goneReported = false;
    std::atomic<bool> m_closedForOutput{false};  // m_overflowed, for the server's thread
    // Taken at accept: after a disconnect the socket no longer knows its peer.
    QString m_peerAddress;
    quint16 m_peerPort = 0;
    // The terminal as the PROXY header named it; the peer above without one. For the log.
    QString m_clientAddress;
    quint16 m_clientPort = 0;
    std::atomic<bool> m_awaitingProxyHeader{false};
    QByteArray m_headerBytes;  // received while the PROXY header is incomplete
    PacketFramer m_framer;
};
