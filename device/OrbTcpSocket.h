#pragma once

#include <atomic>

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

#include "codec/PacketFramer.h"

// One terminal connection, living in its own thread: cuts the received stream into whole
// packets and writes the answers addressed to its socket ID.
class OrbTcpSocket : public QTcpSocket {
    Q_OBJECT
  public:
    explicit OrbTcpSocket(qintptr socketDescriptor, QObject* parent = nullptr);
    ~OrbTcpSocket() override;

    qintptr socketId() const { return m_socketId; }
    QString peerAddressText() const { return m_peerAddress; }
    quint16 peerPortNumber() const { return m_peerPort; }
    // Seconds since the epoch of the creation or of the last whole packet received.
    quint32 lastActiveTime() const { return m_lastActiveTime.load(); }

    // Tells the server that this connection is to be cleaned up (disconnect or idle drop).
    void reportDisconnect();

    // Hands over the descriptor that reserves the socket ID (-1 if none is held); the caller
    // closes it once nothing addressed to this ID can be pending any more.
    int takeIdDescriptor();

  signals:
    void readData(qintptr socketId, QString address, quint16 port, QByteArray packet);
    void sockDisConnect(qintptr socketId, QString address, quint16 port);

  public slots:
    void thisReadData();
    void sentData(QByteArray packet, qintptr socketId);

  protected:
    // The packet signal shares its name with the stream read of QIODevice; keep both visible.
    using QTcpSocket::readData;

  private:
    // Written by this socket's thread, read by the server's idle check.
    std::atomic<quint32> m_lastActiveTime;
    const qintptr m_socketId;
    // The accepted descriptor, kept open while Qt works on a duplicate: Qt closes its own at a
    // disconnect, in this thread, and the kernel would hand the same number to the next
    // terminal before the server has retired this one, mixing up the two connections.
    int m_idDescriptor = -1;
    // Taken at accept: after a disconnect the socket no longer knows its peer.
    QString m_peerAddress;
    quint16 m_peerPort = 0;
    PacketFramer m_framer;
};
