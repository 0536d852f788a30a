#include "download/DownloadLoop.h"

#include <event2/event.h>
#include <event2/listener.h>
#include <unistd.h>

#include <QDebug>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "download/DownloadConnection.h"
#include "download/DownloadServer.h"

namespace {
// Out of descriptors, accepting at once would fail again and again (the pending connection
// keeps the socket readable): accepting pauses this long, and the queue waits meanwhile.
const timeval kAcceptPause{0, 500 * 1000};
}  // namespace

DownloadLoop::DownloadLoop(DownloadServer& server) : m_server(server) {}

DownloadLoop::~DownloadLoop() {
    stop();
    for (DownloadConnection* connection : m_connections) {
        delete connection;
        m_server.connectionClosed();
    }
    m_connections.clear();
    if (m_resume) event_free(m_resume);
    if (m_listener) evconnlistener_free(m_listener);
    if (m_base) event_base_free(m_base);
}

bool DownloadLoop::open(int listenFd) {
    m_base = event_base_new();
    if (!m_base) return false;
    m_resume = evtimer_new(m_base, &DownloadLoop::resumeCallback, this);
    const int fd = ::dup(listenFd);
    if (!m_resume || fd < 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    // Backlog 0: the socket already listens, with the server's deeper queue.
    m_listener = evconnlistener_new(m_base, &DownloadLoop::acceptCallback, this,
                                    LEV_OPT_CLOSE_ON_FREE | LEV_OPT_CLOSE_ON_EXEC, 0, fd);
    if (!m_listener) {
        ::close(fd);
        return false;
    }
    evconnlistener_set_error_cb(m_listener, &DownloadLoop::acceptErrorCallback);
    try {
        m_thread = std::thread([base = m_base] { event_base_loop(base, EVLOOP_NO_EXIT_ON_EMPTY); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void DownloadLoop::stop() {
    if (!m_thread.joinable()) return;
    event_base_loopexit(m_base, nullptr);
    m_thread.join();
}

void DownloadLoop::release(DownloadConnection* connection) {
    m_connections.erase(connection);
    delete connection;
    m_server.connectionClosed();
}

void DownloadLoop::acceptCallback(evconnlistener*, evutil_socket_t fd, sockaddr*, int, void* arg) {
    auto* self = static_cast<DownloadLoop*>(arg);
    auto* connection = new DownloadConnection(*self, fd);
    if (!connection->open()) {
        delete connection;
        return;
    }
    self->m_connections.insert(connection);
    self->m_server.connectionOpened();
}

void DownloadLoop::acceptErrorCallback(evconnlistener* listener, void* arg) {
    auto* self = static_cast<DownloadLoop*>(arg);
    const int error = EVUTIL_SOCKET_ERROR();
    qDebug("[DownloadServer] accept failed, paused: %d %s", error, std::strerror(error));
    evconnlistener_disable(listener);
    evtimer_add(self->m_resume, &kAcceptPause);
}

void DownloadLoop::resumeCallback(evutil_socket_t, short, void* arg) {
    evconnlistener_enable(static_cast<DownloadLoop*>(arg)->m_listener);
}
