#include "device/OrbTcpServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QThread>
#include <QtConcurrent>
#include <future>
#include <memory>

#include "core/LocalParaMgt.h"
#include "device/DeviceMetaTypes.h"
#include "device/OrbTcpSocket.h"
#include "device/TcpDataMgtApi.h"

OrbTcpServer::OrbTcpServer(QObject* parent, int maxConnCount, int idleLimitSecs,
                           int checkIntervalMs)
    : QTcpServer(parent), m_idleLimitSecs(idleLimitSecs), m_checkIntervalMs(checkIntervalMs) {
    registerDeviceLinkMetaTypes();
    m_tcpDataMgtApi = TcpDataMgtApi::instance();
    if (m_tcpDataMgtApi) {
        connect(m_tcpDataMgtApi, &TcpDataMgtApi::sendSocketData, this, &OrbTcpServer::setData,
                Qt::QueuedConnection);
        connect(this, &OrbTcpServer::sockDisConnect, m_tcpDataMgtApi,
                &TcpDataMgtApi::sockDisConnect, Qt::QueuedConnection);
    }
    if (maxConnCount < 0) {
        struLocalParam param;
        LocalParaMgt::instance()->readLocalParam(param);
        maxConnCount = param.MaxConnCount;
    }
    m_maxConnCount = maxConnCount;
    m_heartCheck = QtConcurrent::run(this, &OrbTcpServer::checkHeartStatus);
}

OrbTcpServer::~OrbTcpServer() {
    m_stop = true;
    m_heartCheck.waitForFinished();
    close();
    // The connections end with the server: their threads must not outlive it.
    QMap<QString, OrbTcpSocket*> connections;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        connections.swap(m_connections);
        m_bySocketId.clear();
    }
    for (OrbTcpSocket* socket : connections) releaseSocket(socket);
    freeRetiredIds();
}

bool OrbTcpServer::listenDeep(const QHostAddress& address, quint16 port, int backlog) {
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

QString OrbTcpServer::connectionKey(const QString& address, quint16 port) {
    return QStringLiteral("%1:%2").arg(address).arg(port);
}

void OrbTcpServer::incomingConnection(qintptr socketDescriptor) {
    if (m_isPaused) {
        // Not served while paused; closing it tells the terminal to retry later rather than
        // leaving it hanging on a descriptor nobody reads.
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.abort();
        return;
    }

    auto* socket = new OrbTcpSocket(socketDescriptor);
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        count = m_connections.size();
    }
    if (count >= m_maxConnCount) {
        qDebug() << "Greater than the maximum number of connections; thread is:"
                 << QThread::currentThreadId();
        socket->close();
        socket->deleteLater();
        return;
    }

    auto* thread = new QThread;
    connect(socket, QOverload<qintptr, QString, quint16, QByteArray>::of(&OrbTcpSocket::readData),
            this, &OrbTcpServer::readDataSlot);
    connect(socket, &OrbTcpSocket::sockDisConnect, this, &OrbTcpServer::sockDisConnectSlot);
    socket->moveToThread(thread);
    thread->start(QThread::InheritPriority);

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
    // A stale entry under the same address and port would otherwise keep its thread forever.
    if (replaced) retireSocket(replaced, socket->peerAddressText(), socket->peerPortNumber());

    qDebug() << "incomingConnection THREAD IS：" << QThread::currentThreadId();
    emit connectClient(socket->socketId(), socket->peerAddressText(), socket->peerPortNumber());
}

void OrbTcpServer::readDataSlot(qintptr socketId, QString address, quint16 port,
                                QByteArray packet) {
    Q_UNUSED(address);
    Q_UNUSED(port);
    if (m_isPaused) return;
    deliver(socketId, packet);
}

void OrbTcpServer::deliver(qintptr socketId, const QByteArray& packet) {
    if (m_tcpDataMgtApi) m_tcpDataMgtApi->readDataSlot(socketId, packet);
}

void OrbTcpServer::setData(QByteArray data, qintptr handle) {
    emit sentData(data, handle);
    // Sockets are released only on this thread, so the one found stays alive until the queued
    // call is posted; a socket deleted later drops its pending calls with it.
    OrbTcpSocket* socket = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        socket = m_bySocketId.value(handle, nullptr);
    }
    if (socket)
        QMetaObject::invokeMethod(socket, "sentData", Qt::QueuedConnection, Q_ARG(QByteArray, data),
                                  Q_ARG(qintptr, handle));
}

void OrbTcpServer::sockDisConnectSlot(qintptr handle, QString ip, quint16 prot) {
    qDebug() << "OrbTcpServer::sockDisConnectSlot thread is:" << QThread::currentThreadId();
    OrbTcpSocket* socket = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mapMutex);
        const QString key = connectionKey(ip, prot);
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
    const int idDescriptor = socket->takeIdDescriptor();
    releaseSocket(socket);
    emit sockDisConnect(id, ip, port);
    if (idDescriptor < 0) return;
    // Queued behind the disconnect report and any answer already on its way to this ID.
    m_retiredIds.insert(idDescriptor);
    QMetaObject::invokeMethod(
        this,
        [this, idDescriptor]() {
            if (m_retiredIds.remove(idDescriptor)) ::close(idDescriptor);
        },
        Qt::QueuedConnection);
}

void OrbTcpServer::freeRetiredIds() {
    for (int fd : qAsConst(m_retiredIds)) ::close(fd);
    m_retiredIds.clear();
}

void OrbTcpServer::releaseSocket(OrbTcpSocket* socket) {
    QThread* thread = socket->thread();
    QThread* home = this->thread();
    if (thread != home) {
        // Close and hand the socket back in its own thread, so that it is not torn down from a
        // thread that does not own its notifiers; its late signals are of no interest any more.
        // Waited for through a std::promise rather than a blocking queued call: Qt's semaphore
        // is invisible to thread sanitizer builds. The promise is kept when the call object goes
        // away, so a call the thread drops unrun does not leave this wait hanging.
        if (thread->isRunning()) {
            auto done = std::make_shared<std::promise<void>>();
            std::future<void> handedBack = done->get_future();
            std::shared_ptr<void> keep(nullptr, [done](void*) { done->set_value(); });
            QMetaObject::invokeMethod(
                socket,
                [socket, home, keep]() {
                    socket->blockSignals(true);
                    socket->abort();
                    socket->moveToThread(home);
                },
                Qt::QueuedConnection);
            keep.reset();
            handedBack.wait();
        }
        thread->quit();
        thread->wait();
        delete thread;
    }
    delete socket;
}

void OrbTcpServer::checkHeartStatus() {
    while (!m_stop) {
        // Sleep in slices so that the destructor does not wait a whole interval.
        for (int slept = 0; slept < m_checkIntervalMs && !m_stop; slept += 50)
            QThread::msleep(static_cast<unsigned long>(qMin(50, m_checkIntervalMs - slept)));
        if (m_stop) return;

        QStringList idle;
        {
            std::lock_guard<std::mutex> lock(m_mapMutex);
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
                if (now - static_cast<qint64>(it.value()->lastActiveTime()) > m_idleLimitSecs)
                    idle << it.key();
            }
        }
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
