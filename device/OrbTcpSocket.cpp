#include "device/OrbTcpSocket.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QThread>

namespace {
quint32 nowSeconds() {
    return static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
}
}  // namespace

OrbTcpSocket::OrbTcpSocket(qintptr socketDescriptor, QObject* parent)
    : QTcpSocket(parent), m_lastActiveTime(nowSeconds()), m_socketId(socketDescriptor) {
    const int duplicate = ::fcntl(static_cast<int>(socketDescriptor), F_DUPFD_CLOEXEC, 0);
    if (duplicate >= 0) {
        m_idDescriptor = static_cast<int>(socketDescriptor);
        if (!setSocketDescriptor(duplicate)) ::close(duplicate);
    } else {
        // Out of descriptors: served all the same, only without the reservation.
        setSocketDescriptor(socketDescriptor);
    }
    m_peerAddress = peerAddress().toString();
    m_peerPort = peerPort();

    connect(this, &QIODevice::readyRead, this, &OrbTcpSocket::thisReadData);
    connect(this, &QAbstractSocket::disconnected, this, [this]() {
        qDebug() << "OrbTcpSocket::OrbTcpSocket lambda sockDisConnect thread is:"
                 << QThread::currentThreadId();
        reportDisconnect();
    });
    qDebug() << "OrbTcpSocket::OrbTcpSocket thread is " << socketDescriptor << m_peerAddress
             << m_peerPort << QThread::currentThreadId();
}

OrbTcpSocket::~OrbTcpSocket() {
    if (m_idDescriptor >= 0) ::close(m_idDescriptor);
}

int OrbTcpSocket::takeIdDescriptor() {
    const int fd = m_idDescriptor;
    m_idDescriptor = -1;
    return fd;
}

void OrbTcpSocket::reportDisconnect() {
    emit sockDisConnect(m_socketId, m_peerAddress, m_peerPort);
}

void OrbTcpSocket::thisReadData() {
    m_framer.append(readAll());
    for (;;) {
        const int length = m_framer.pendingPacketLength();
        if (length < 0) {
            // No way to find the next packet boundary: drop the stream and the connection.
            m_framer.clear();
            close();
            return;
        }
        if (length == 0) return;
        qDebug() << "read Data:" << m_framer.buffer().toHex();
        emit readData(m_socketId, m_peerAddress, m_peerPort, m_framer.take(length));
        m_lastActiveTime = nowSeconds();
    }
}

void OrbTcpSocket::sentData(QByteArray packet, qintptr socketId) {
    if (socketId != m_socketId) return;
    qDebug() << "OrbTcpSocket::sentData" << QThread::currentThreadId();
    qDebug() << "write data:" << packet.toHex();
    write(packet);
}
