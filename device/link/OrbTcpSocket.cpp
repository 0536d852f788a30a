#include "device/link/OrbTcpSocket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <QDebug>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QSocketNotifier>

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
    : QObject(parent),
      m_fd(static_cast<int>(socketDescriptor)),
      m_lastActiveMs(nowMs()),
      m_connectedAtMs(m_lastActiveMs.load()),
      m_socketId(socketId),
      m_maxPendingWriteBytes(maxPendingWriteBytes),
      m_maxPacketsInFlight(maxPacketsInFlight),
      m_awaitingProxyHeader(proxyHeader) {
    // Accepted descriptors come blocking; one read too many would stall the whole I/O thread.
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        const QHostAddress address(reinterpret_cast<const sockaddr*>(&peer));
        m_peerAddress = address.toString();
        m_peerPort = ntohs(peer.ss_family == AF_INET6
                               ? reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port
                               : reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    }
    m_clientAddress = m_peerAddress;
    m_clientPort = m_peerPort;
    // Posted calls move with the object: the descriptor is watched by the I/O thread it is
    // moved to, never registered with the accepting thread's loop first.
    m_built.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(this, "watch", Qt::QueuedConnection);
}

OrbTcpSocket::~OrbTcpSocket() {
    shut();
}

void OrbTcpSocket::watch() {
    // Orders what the accepting thread wrote before this thread's first look, as the thread
    // sanitizer sees it too: the call reaches here through Qt's queue, which it does not watch.
    if (!m_built.load(std::memory_order_acquire) || m_fd < 0 || m_readable) return;
    m_readable = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, [this] { cut(); });
    watchReads(!m_readPaused.load());
}

void OrbTcpSocket::reportDisconnect() {
    emit sockDisConnect(m_socketId, m_peerAddress, m_peerPort);
}

bool OrbTcpSocket::mayCut() {
    if (m_inFlight.load() < m_maxPacketsInFlight) return true;
    m_readPaused = true;
    // The server may have worked off the backlog between the two looks.
    if (m_inFlight.load() <= m_maxPacketsInFlight / 2 && m_readPaused.exchange(false)) return true;
    // What is unread waits in the kernel (the notifier would fire for it without end) until the
    // server resumes this socket.
    watchReads(false);
    return false;
}

void OrbTcpSocket::watchReads(bool on) {
    if (m_readable && !m_peerGone) m_readable->setEnabled(on);
}

bool OrbTcpSocket::packetHandled() {
    const int left = --m_inFlight;
    return left <= m_maxPacketsInFlight / 2 && m_readPaused.exchange(false);
}

void OrbTcpSocket::thisReadData() {
    watchReads(true);
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
            shut();
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
    if (m_fd < 0) return QByteArray();
    char slice[kReadSliceBytes];
    ssize_t n;
    do {
        n = ::recv(m_fd, slice, kReadSliceBytes, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return QByteArray(slice, static_cast<int>(n));
    // The end of the stream (0) or a reset: the terminal has gone.
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) shut();
    return QByteArray();
}

void OrbTcpSocket::shut() {
    m_peerGone = true;
    if (m_fd < 0) return;
    // Unwatched before the descriptor is closed: its number goes to the next terminal at once.
    // Deleted later, as this may run inside the notifier's own signal.
    for (QSocketNotifier** notifier : {&m_readable, &m_writable}) {
        if (!*notifier) continue;
        (*notifier)->setEnabled(false);
        (*notifier)->deleteLater();
        *notifier = nullptr;
    }
    ::close(m_fd);
    m_fd = -1;
}

bool OrbTcpSocket::sendUnsent() {
    while (!m_unsent.isEmpty() && m_fd >= 0) {
        const ssize_t n =
            ::send(m_fd, m_unsent.constData(), static_cast<size_t>(m_unsent.size()), MSG_NOSIGNAL);
        if (n > 0) {
            m_unsent.remove(0, static_cast<int>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            return false;
        }
    }
    if (m_unsent.isEmpty()) {
        m_unsent = QByteArray();  // no capacity kept for a socket that goes idle
        if (m_writable) m_writable->setEnabled(false);
    } else if (m_fd >= 0) {
        if (!m_writable) {
            m_writable = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
            connect(m_writable, &QSocketNotifier::activated, this, [this] { onWritable(); });
        }
        m_writable->setEnabled(true);
    }
    return true;
}

void OrbTcpSocket::onWritable() {
    if (!sendUnsent()) lose();
}

void OrbTcpSocket::lose() {
    shut();
    cut();
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
        shut();
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
    m_unsent.append(packet);
    if (!sendUnsent()) {
        lose();
        return;
    }
    if (m_unsent.size() <= m_maxPendingWriteBytes) return;
    // A terminal that does not read its answers would otherwise grow the service without end.
    m_overflowed = true;
    m_closedForOutput = true;
    qWarning().noquote() << "OrbTcpSocket::sentData output limit: more than"
                         << m_maxPendingWriteBytes << "bytes unread by" << m_clientAddress
                         << m_clientPort << "; closing the connection";
    m_unsent.clear();
    lose();
}

void OrbTcpSocket::dispose() {
    blockSignals(true);
    sendUnsent();
    shut();
    deleteLater();
}
