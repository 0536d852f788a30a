#include "device/link/OrbTcpSocket.h"

#include <unistd.h>

#include <chrono>

#include <QDebug>
#include <QHostAddress>
#include <QLoggingCategory>

#include "codec/PacketCheck.h"
#include "codec/PacketSummary.h"
#include "codec/ProxyHeader.h"

namespace {
// One line per packet each way: off unless QT_LOGGING_RULES="wayfarer.packets.debug=true", so
// a terminal that floods the link does not flood the console too.
Q_LOGGING_CATEGORY(lcPackets, "wayfarer.packets", QtInfoMsg)

// qCDebug with no message argument trips clang's pedantic check on its variadic macro.
void logPacket(const char* what, const QByteArray& packet) {
    if (lcPackets().isDebugEnabled())
        QMessageLogger(nullptr, 0, nullptr, lcPackets().categoryName()).debug().noquote()
            << what << packetSummary(packet);
}
}  // namespace

qint64 OrbTcpSocket::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

OrbTcpSocket::OrbTcpSocket(qintptr socketDescriptor, qintptr socketId, QObject* parent,
                           qint64 maxPendingWriteBytes, int maxPacketsInFlight, bool proxyHeader)
    : QTcpSocket(parent),
      m_lastActiveMs(nowMs()),
      m_connectedAtMs(m_lastActiveMs.load()),
      m_socketId(socketId),
      m_maxPendingWriteBytes(maxPendingWriteBytes),
      m_maxPacketsInFlight(maxPacketsInFlight),
      m_awaitingProxyHeader(proxyHeader) {
    // Unbuffered: Qt reads nothing ahead into a buffer of its own (kept per socket, idle or
    // not), and an answer goes to the kernel at once rather than at the next loop iteration.
    if (!setSocketDescriptor(socketDescriptor, ConnectedState, ReadWrite | Unbuffered))
        ::close(static_cast<int>(socketDescriptor));
    m_peerAddress = peerAddress().toString();
    m_peerPort = peerPort();
    m_clientAddress = m_peerAddress;
    m_clientPort = m_peerPort;

    connect(this, &QIODevice::readyRead, this, &OrbTcpSocket::thisReadData);
    connect(this, &QAbstractSocket::disconnected, this, [this]() {
        // What the terminal sent before it left still goes to the handler, ahead of the report
        // and at the pace of the packets in flight; nothing of a connection closed for its output.
        m_peerGone = true;
        cut();
    });
}

void OrbTcpSocket::reportDisconnect() {
    emit sockDisConnect(m_socketId, m_peerAddress, m_peerPort);
}

bool OrbTcpSocket::mayCut() {
    if (m_inFlight.load() < m_maxPacketsInFlight) return true;
    m_readPaused = true;
    // The server may have worked off the backlog between the two looks.
    return m_inFlight.load() <= m_maxPacketsInFlight / 2 && m_readPaused.exchange(false);
}

bool OrbTcpSocket::packetHandled() {
    const int left = --m_inFlight;
    return left <= m_maxPacketsInFlight / 2 && m_readPaused.exchange(false);
}

void OrbTcpSocket::thisReadData() {
    cut();
}

void OrbTcpSocket::cut() {
    // Closed for its output, nothing more of it is handed on (nor handled: see the server).
    if (!m_overflowed && !cutReceived()) return;
    if (!m_peerGone || m_goneReported) return;
    m_goneReported = true;
    m_framer.clear();
    reportDisconnect();
}

bool OrbTcpSocket::cutReceived() {
    if (!mayCut()) return false;
    if (m_awaitingProxyHeader && !takeProxyHeader()) return true;
    for (;;) {
        if (!mayCut()) return false;  // the rest waits in the framer and the kernel
        int length = m_framer.pendingPacketLength();
        if (length == 0) {
            // Read on only for a packet not yet whole, so the framer holds at most one slice.
            const QByteArray more = readSlice();
            if (more.isEmpty()) return true;
            m_framer.append(more);
            length = m_framer.pendingPacketLength();
            if (length == 0) continue;
        }
        if (length < 0) {
            // No way to find the next packet boundary: drop the stream and the connection.
            m_framer.clear();
            close();
            return true;
        }
        const QByteArray packet = m_framer.take(length);
        logPacket("read Data:", packet);
        notePacket(packet);
        ++m_inFlight;
        emit readData(m_socketId, m_peerAddress, m_peerPort, packet);
    }
}

QByteArray OrbTcpSocket::readSlice() {
    char slice[kReadSliceBytes];
    const qint64 n = read(slice, kReadSliceBytes);
    if (n > 0) return QByteArray(slice, static_cast<int>(n));
    // Unbuffered, a terminal's close shows only as the end of the stream: no disconnected().
    if (n < 0 && state() != ConnectedState) m_peerGone = true;
    return QByteArray();
}

bool OrbTcpSocket::takeProxyHeader() {
    // The header is far shorter than a slice: one read per wake-up takes it whole.
    m_headerBytes.append(readSlice());
    const ProxyHeader header = ProxyHeader::parse(m_headerBytes);
    if (header.status == ProxyHeader::Status::Incomplete) return false;
    if (header.status == ProxyHeader::Status::Invalid) {
        qDebug().noquote() << "[OrbTcpSocket] no valid PROXY header from" << m_peerAddress
                           << m_peerPort << "; closing the connection";
        m_headerBytes.clear();
        close();
        return false;
    }
    if (header.hasSource) {
        m_clientAddress = header.sourceAddress;
        m_clientPort = header.sourcePort;
    }
    m_framer.append(m_headerBytes.mid(header.length));
    m_headerBytes.clear();
    m_awaitingProxyHeader = false;
    qDebug().noquote() << "[OrbTcpSocket] terminal" << m_clientAddress << m_clientPort << "via"
                       << m_peerAddress << m_peerPort;
    emit clientKnown(m_socketId, m_clientAddress, m_clientPort);
    return true;
}

void OrbTcpSocket::notePacket(const QByteArray& packet) {
    // Framed garbage is still handed on (the handler logs it) but keeps no slot alive.
    const PacketVerdict verdict = checkPacket(packet);
    if (verdict == PacketVerdict::Invalid) return;
    m_lastActiveMs = nowMs();
    if (verdict == PacketVerdict::Identifies) m_identified = true;
}

void OrbTcpSocket::sentData(QByteArray packet, qintptr socketId) {
    // Nothing to write to once the terminal is gone (its last packets are still being handled).
    if (socketId != m_socketId || m_overflowed || m_peerGone) return;
    logPacket("write data:", packet);
    write(packet);
    if (bytesToWrite() <= m_maxPendingWriteBytes) return;
    // A terminal that does not read its answers would otherwise grow the service without end.
    m_overflowed = true;
    m_closedForOutput = true;
    qWarning().noquote() << "OrbTcpSocket::sentData output limit: more than"
                         << m_maxPendingWriteBytes << "bytes unread by" << m_clientAddress
                         << m_clientPort << "; closing the connection";
    abort();
}

void OrbTcpSocket::dispose() {
    blockSignals(true);
    flush();
    abort();
    deleteLater();
}
