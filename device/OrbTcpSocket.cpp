#include "OrbTcpSocket.h"

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
    setSocketDescriptor(socketDescriptor);
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
