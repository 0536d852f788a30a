#include "device/link/OrbTcpServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

#include "core/LocalParaMgt.h"
#include "core/OpenFileLimit.h"
#include "core/ScrapeHook.h"
#include "device/DeviceMetaTypes.h"
#include "device/TcpDataMgtApi.h"
#include "device/TerminalMetrics.h"
#include "device/link/IoThreadPool.h"
#include "device/link/OrbTcpSocket.h"

namespace {
OrbTcpServer::Limits positionalLimits(int maxConnCount, int idleLimitSecs, int checkIntervalMs) {
    OrbTcpServer::Limits limits;
    limits.maxConnCount = maxConnCount;
    limits.idleLimitSecs = idleLimitSecs;
    limits.checkIntervalMs = checkIntervalMs;
    return limits;
}

int resolveMaxConnCount(int maxConnCount) {
    return maxConnCount >= 0 ? maxConnCount : LocalParaMgt::kDefaultMaxConnCount;
}

// Whatever MaxConnCount says, no more terminals than the open-file limit holds beside the
// descriptors the rest of the service needs: past that the process would fail at random.
int connectionLimitFor(int maxConnCount) {
    const OpenFileLimit files = currentOpenFileLimit();
    if (files.soft <= 0) return maxConnCount;
    return static_cast<int>(std::min<long>(maxConnCount, terminalBudget(files.soft)));
}

QString serverThreadText() {
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}
}  // namespace

OrbTcpServer::OrbTcpServer(TcpDataMgtApi& handler, TerminalMetrics& metrics, QObject* parent,
                           int maxConnCount, int idleLimitSecs, int checkIntervalMs)
    : OrbTcpServer(handler, metrics, positionalLimits(maxConnCount, idleLimitSecs, checkIntervalMs),
                   parent) {}

OrbTcpServer::OrbTcpServer(TcpDataMgtApi& handler, TerminalMetrics& metrics, const Limits& limits,
                           QObject* parent)
    : QTcpServer(parent),
      m_limits(limits),
      m_tcpDataMgtApi(&handler),
      m_metrics(metrics),
      m_maxConnCount(resolveMaxConnCount(limits.maxConnCount)),
      m_connLimit(connectionLimitFor(m_maxConnCount)),
      m_ioPool(std::make_unique<IoThreadPool>(limits.ioThreads)),
      m_refusals(QStringLiteral("Greater than the maximum number of connections; thread is: ") +
                     serverThreadText() +
                     QStringLiteral("; refused %1 connections (%2 s window, limit ") +
                     QString::number(m_connLimit) + QStringLiteral(")"),
                 limits.logWindowMs),
      m_evictions(QStringLiteral("[OrbTcpServer] made room by closing %1 connections that had "
                                 "sent no device report (%2 s window)"),
                  limits.logWindowMs),
      m_unidentifiedDrops(QStringLiteral("[OrbTcpServer] closed %1 connections that sent no "
                                         "device report within ") +
                              QString::number(limits.identifyLimitSecs) +
                              QStringLiteral(" s (%2 s window)"),
                          limits.logWindowMs),
      m_acceptFailures(QStringLiteral("[OrbTcpServer] accept failed %1 times (%2 s window; out of "
                                      "descriptors or memory); accepting paused ") +
                           QString::number(limits.acceptPauseMs) + QStringLiteral(" ms after each"),
                       limits.logWindowMs),
      m_headerDrops(QStringLiteral("[OrbTcpServer] closed %1 connections that sent no PROXY "
                                   "header within ") +
                        QString::number(limits.proxyHeaderLimitMs) +
                        QStringLiteral(" ms (%2 s window)"),
                    limits.logWindowMs),
      m_unprovenEvictions(QStringLiteral("[OrbTcpServer] closed %1 connections of serial numbers "
                                         "first seen on them to make room for known terminals "
                                         "(%2 s window)"),
                          limits.logWindowMs),
      m_untrustedHeaders(QStringLiteral("[OrbTcpServer] served %1 connections from peers outside "
                                        "TcpProxyTrusted as direct ones, under their own "
                                        "addresses (%2 s window)"),
                         limits.logWindowMs),
      m_slots(m_connLimit) {
    registerDeviceLinkMetaTypes();
    connect(
        m_tcpDataMgtApi, &TcpDataMgtApi::sendSocketData, this,
        [this](QByteArray data, qintptr id) {
            fromHandler({id, std::move(data), false});
        },
        Qt::DirectConnection);
    connect(
        m_tcpDataMgtApi, &TcpDataMgtApi::closeConnection, this,
        [this](qintptr id) {
            fromHandler({id, QByteArray(), true});
        },
        Qt::DirectConnection);
    connect(this, &OrbTcpServer::sockDisConnect, m_tcpDataMgtApi, &TcpDataMgtApi::sockDisConnect,
            Qt::QueuedConnection);
    // The handler lives in this thread: slots are settled while a report is handled.
    m_tcpDataMgtApi->setSlotHook(
        [this](qintptr id, SlotPriority::Standing standing) { return onStanding(id, standing); });
    connect(this, &QTcpServer::acceptError, this, &OrbTcpServer::onAcceptError);
    qInfo().nospace() << "[OrbTcpServer] at most " << m_connLimit
                      << " terminal connections (MaxConnCount " << m_maxConnCount << ", open files "
                      << currentOpenFileLimit().soft << "), " << m_ioPool->size() << " I/O threads";
    if (limits.proxyProtocol)
        qInfo().noquote() << "[OrbTcpServer] PROXY headers believed from"
                          << limits.proxyTrusted.text();
    m_heartCheck = QtConcurrent::run(this, &OrbTcpServer::checkHeartStatus);
    m_connectedGauge = m_metrics.watchConnections([this] { return connectionCount(); });
}

OrbTcpServer::~OrbTcpServer() {
    m_connectedGauge.reset();  // no scrape reads a server going away
    m_tcpDataMgtApi->setSlotHook(nullptr);
    m_stop = true;
    m_heartCheck.waitForFinished();
    close();
    // The connections end with the server.
    QMap<QString, OrbTcpSocket*> connections;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        connections.swap(m_connections);
        m_bySocketId.clear();
    }
    m_unidentified.clear();
    m_acceptOrder.clear();
    m_inbox.clear();
    m_queued.clear();
    QList<qintptr> ids;
    for (OrbTcpSocket* socket : connections) {
        ids << socket->socketId();
        releaseSocket(socket);
    }
    m_ioPool.reset();  // runs the releases just posted, then ends the threads
    // The handler forgets every connection of a server that goes away before their IDs are
    // free for another's: the disconnects already posted to it, then the connections still
    // open (their presence rows stay, as after a crash, until the instance starts again).
    QCoreApplication::sendPostedEvents(m_tcpDataMgtApi, QEvent::MetaCall);
    for (qintptr id : ids) m_tcpDataMgtApi->forgetConnection(id);
    flushLogs(true);
}

bool OrbTcpServer::listenDeep(const QHostAddress& address, quint16 port, int backlog) {
    if (address.isNull()) return false;  // a listen address that is none opens nothing
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (!isIPv4) return listen(address, port);  // Qt's own queue for anything but IPv4
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(ipv4);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(fd, backlog) != 0 || !setSocketDescriptor(fd)) {
        ::close(fd);
        return false;
    }
    return true;
}

int OrbTcpServer::connectionCount() const {
    std::lock_guard<std::mutex> lock(m_mapMutex);
    return m_connections.size();
}

int OrbTcpServer::ioThreadCount() const {
    return m_ioPool->size();
}

QString OrbTcpServer::connectionKey(const QString& address, quint16 port) {
    return QStringLiteral("%1:%2").arg(address).arg(port);
}

void OrbTcpServer::incomingConnection(qintptr socketDescriptor) {
    // Not served while paused; closing it tells the terminal to retry later rather than
    // leaving it hanging on a descriptor nobody reads.
    if (m_isPaused) {
        ::close(static_cast<int>(socketDescriptor));
        return;
    }
    const qintptr socketId = m_nextSocketId++;
    quint64 provisional = 0;
    if (connectionCount() >= m_connLimit &&
        !(evictUnidentified() && connectionCount() < m_connLimit)) {
        provisional = m_slots.admitProvisionally(socketId);
        if (provisional == 0) {
            // Accepted and closed at once: the queue does not fill with terminals nobody serves.
            ::close(static_cast<int>(socketDescriptor));
            countRefusal();
            return;
        }
        QTimer::singleShot(m_limits.provisionalLimitMs, this, [this, socketId, provisional] {
            if (!m_slots.isProvisional(socketId, provisional)) return;
            countRefusal();
            closeConnection(socketId);
        });
    }

    bool viaBalancer = m_limits.proxyProtocol;
    if (viaBalancer && !m_limits.proxyTrusted.trusts(ProxyTrust::peerOf(socketDescriptor))) {
        viaBalancer = false;
        m_untrustedHeaders.add(OrbTcpSocket::nowMs());
    }
    auto* socket =
        new OrbTcpSocket(socketDescriptor, socketId, nullptr, m_limits.maxPendingWriteBytes,
                         m_limits.maxPacketsInFlight, viaBalancer);
    // Queued from the socket's thread ahead of its packets, so the handler knows the terminal's
    // address before its first report.
    connect(socket, &OrbTcpSocket::clientKnown, this, &OrbTcpServer::connectClient);
    connect(socket, QOverload<qintptr, QString, quint16, QByteArray>::of(&OrbTcpSocket::readData),
            this, &OrbTcpServer::readDataSlot);
    connect(socket, &OrbTcpSocket::sockDisConnect, this, &OrbTcpServer::sockDisConnectSlot);
    socket->moveToThread(m_ioPool->acquire());

    const QString key = connectionKey(socket->peerAddressText(), socket->peerPortNumber());
    OrbTcpSocket* replaced = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        replaced = m_connections.value(key, nullptr);
        m_connections.insert(key, socket);
        if (replaced && m_bySocketId.value(replaced->socketId()) == replaced)
            m_bySocketId.remove(replaced->socketId());
        m_bySocketId.insert(socket->socketId(), socket);
    }
    // A provisional one counts once it has shown itself a known terminal.
    if (provisional == 0) m_metrics.connectionAccepted();
    m_unidentified.insert(m_acceptSequence, socket);
    m_acceptOrder.insert(socket, m_acceptSequence++);
    // A stale entry under the same address and port would otherwise be kept forever.
    if (replaced) retireSocket(replaced, socket->peerAddressText(), socket->peerPortNumber());

    if (!viaBalancer)
        emit connectClient(socket->socketId(), socket->peerAddressText(), socket->peerPortNumber());
}

bool OrbTcpServer::evictUnidentified() {
    OrbTcpSocket* victim = nullptr;
    for (auto it = m_unidentified.begin(); it != m_unidentified.end();) {
        OrbTcpSocket* socket = it.value();
        if (socket->identified()) {
            m_acceptOrder.remove(socket);
            it = m_unidentified.erase(it);
            continue;
        }
        // Strictly less: of two equally idle, the one accepted first goes. One taken over the
        // limit keeps its few seconds to report: closing it would only make room over the limit.
        if ((!victim || socket->lastActiveMs() < victim->lastActiveMs()) &&
            !m_slots.isProvisional(socket->socketId()))
            victim = socket;
        ++it;
    }
    if (!victim) return false;
    const int before = connectionCount();
    sockDisConnectSlot(victim->socketId(), victim->peerAddressText(), victim->peerPortNumber());
    m_evictions.add(OrbTcpSocket::nowMs());
    return connectionCount() < before;
}

bool OrbTcpServer::onStanding(qintptr socketId, SlotPriority::Standing standing) {
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        if (!m_bySocketId.contains(socketId)) return true;  // already retired: nothing to keep
    }
    using Standing = SlotPriority::Standing;
    const bool provisional = m_slots.isProvisional(socketId);
    if (standing == Standing::Proven) {
        m_slots.proven(socketId);
    } else if (standing != Standing::Known) {
        if (!provisional) {
            if (standing == Standing::NewSerial) m_slots.unproven(socketId);
            return true;
        }
        // Taken over the limit for a known terminal only: refused as it would have been then.
        countRefusal();
        return false;
    } else if (provisional) {
        m_metrics.connectionAccepted();
        const qintptr victim = m_slots.settle(socketId, [this](qintptr id) {
            std::lock_guard<std::mutex> lock(m_mapMutex);
            const OrbTcpSocket* socket = m_bySocketId.value(id, nullptr);
            return socket ? socket->lastActiveMs() : 0;
        });
        if (victim >= 0) {
            closeConnection(victim);
            m_unprovenEvictions.add(OrbTcpSocket::nowMs());
        }
    }
    return true;
}

void OrbTcpServer::countRefusal() {
    m_refusals.add(OrbTcpSocket::nowMs());
    m_metrics.connectionRefused();
}

void OrbTcpServer::onAcceptError(QAbstractSocket::SocketError error) {
    Q_UNUSED(error);
    // Qt stops accepting at such an error (out of descriptors, say) and never starts again by
    // itself; retrying at once would spin on the same error.
    m_acceptFailures.add(OrbTcpSocket::nowMs());
    QTimer::singleShot(m_limits.acceptPauseMs, this, [this] {
        if (isListening()) resumeAccepting();
    });
}

void OrbTcpServer::readDataSlot(qintptr socketId, QString address, quint16 port,
                                QByteArray packet) {
    Q_UNUSED(address);
    Q_UNUSED(port);
    // Sockets are released only from this thread: the one found is alive while posting.
    OrbTcpSocket* socket = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        socket = m_bySocketId.value(socketId, nullptr);
    }
    // A packet of a connection closed meanwhile is dropped: a closed flood would otherwise hold
    // the other terminals up long after. IDs are never reused, so the socket found is the one
    // that sent it (no sender() lookup, which walks every connection to this server).
    if (!socket || socket->closedForOutput()) {
        m_metrics.refused(TerminalMetrics::Refusal::Closed);
        return;
    }
    m_inbox.push_back({socket, socketId, std::move(packet)});
    ++m_queued[socket];
    postBatch();
}

void OrbTcpServer::deliver(qintptr socketId, const QByteArray& packet) {
    m_tcpDataMgtApi->readDataSlot(socketId, packet);
}

void OrbTcpServer::setData(QByteArray data, qintptr handle) {
    emit sentData(data, handle);
    // Sockets are released only from this thread, so the one found stays alive until the
    // queued call is posted; a socket deleted later drops its pending calls with it.
    OrbTcpSocket* socket = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        socket = m_bySocketId.value(handle, nullptr);
    }
    if (socket)
        QMetaObject::invokeMethod(socket, "sentData", Qt::QueuedConnection, Q_ARG(QByteArray, data),
                                  Q_ARG(qintptr, handle));
}

void OrbTcpServer::closeConnection(qintptr socketId) {
    QString ip;
    quint16 port = 0;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        OrbTcpSocket* socket = m_bySocketId.value(socketId, nullptr);
        if (!socket) return;
        ip = socket->peerAddressText();
        port = socket->peerPortNumber();
    }
    sockDisConnectSlot(socketId, ip, port);
}

int OrbTcpServer::closeQuietest(int count) {
    QVector<QPair<qint64, qintptr>> byActivity;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        byActivity.reserve(m_bySocketId.size());
        for (const OrbTcpSocket* socket : qAsConst(m_bySocketId))
            byActivity.append({socket->lastActiveMs(), socket->socketId()});
    }
    count = qBound(0, count, byActivity.size());
    std::partial_sort(byActivity.begin(), byActivity.begin() + count, byActivity.end());
    for (int i = 0; i < count; ++i) closeConnection(byActivity[i].second);
    return count;
}

void OrbTcpServer::sockDisConnectSlot(qintptr handle, QString ip, quint16 prot) {
    const QString key = connectionKey(ip, prot);
    // What it sent before it left is handled first, as it would have been unbatched.
    while (!m_inBatch && hasQueued(key, handle)) handleBatch();
    OrbTcpSocket* socket = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        auto it = m_connections.find(key);
        // A second request for the same connection, or a socket that already gave way to a
        // newer one under the same key, finds nothing to do.
        if (it == m_connections.end() || it.value()->socketId() != handle) return;
        socket = it.value();
        m_connections.erase(it);
        if (m_bySocketId.value(handle) == socket) m_bySocketId.remove(handle);
    }
    retireSocket(socket, ip, prot);
}

void OrbTcpServer::retireSocket(OrbTcpSocket* socket, const QString& ip, quint16 port) {
    const qintptr id = socket->socketId();
    m_unidentified.remove(m_acceptOrder.take(socket));
    m_slots.forget(id);
    dropQueued(socket);
    releaseSocket(socket);
    emit sockDisConnect(id, ip, port);
}

void OrbTcpServer::releaseSocket(OrbTcpSocket* socket) {
    m_ioPool->release(socket->thread());
    // In the socket's own thread, which owns its notifiers, without keeping this one waiting;
    // queued behind the answers already on their way to it. A call by name, not a functor:
    // thread sanitizer builds see no order through Qt's queue for the functor's captures.
    QMetaObject::invokeMethod(socket, "dispose", Qt::QueuedConnection);
}

void OrbTcpServer::flushLogs(bool force) {
    const qint64 now = OrbTcpSocket::nowMs();
    for (BurstLog* log : {&m_refusals, &m_evictions, &m_unidentifiedDrops, &m_acceptFailures,
                          &m_headerDrops, &m_unprovenEvictions, &m_untrustedHeaders})
        log->flush(now, force);
}

void OrbTcpServer::checkHeartStatus() {
    const qint64 idleLimitMs = 1000LL * m_limits.idleLimitSecs;
    const qint64 identifyLimitMs = 1000LL * m_limits.identifyLimitSecs;
    while (!m_stop) {
        // Sleep in slices so that the destructor does not wait a whole interval.
        for (int slept = 0; slept < m_limits.checkIntervalMs && !m_stop; slept += 50)
            QThread::msleep(static_cast<unsigned long>(qMin(50, m_limits.checkIntervalMs - slept)));
        if (m_stop) return;
        flushLogs(false);

        QStringList idle;
        int unidentified = 0;
        int headerless = 0;
        const qint64 now = OrbTcpSocket::nowMs();
        {
            std::lock_guard<std::mutex> lock(m_mapMutex);
            for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
                const OrbTcpSocket* socket = it.value();
                if (socket->awaitingProxyHeader() &&
                    now - socket->connectedAtMs() > m_limits.proxyHeaderLimitMs) {
                    idle << it.key();
                    ++headerless;
                } else if (now - socket->lastActiveMs() > idleLimitMs) {
                    idle << it.key();
                } else if (!socket->identified() &&
                           now - socket->connectedAtMs() > identifyLimitMs) {
                    idle << it.key();
                    ++unidentified;
                }
            }
        }
        for (int i = 0; i < unidentified; ++i) m_unidentifiedDrops.add(now);
        for (int i = 0; i < headerless; ++i) m_headerDrops.add(now);
        for (const QString& key : idle) {
            std::lock_guard<std::mutex> lock(m_mapMutex);
            if (OrbTcpSocket* socket = m_connections.value(key, nullptr))
                socket->reportDisconnect();
        }
    }
}

void OrbTcpServer::pause() {
    m_isPaused = true;
}

void OrbTcpServer::resume() {
    m_isPaused = false;
}
