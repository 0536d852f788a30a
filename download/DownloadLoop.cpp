#include "download/DownloadLoop.h"

#include <event2/event.h>
#include <event2/listener.h>
#include <unistd.h>

#include "download/DownloadConnection.h"
#include "download/DownloadServer.h"

DownloadLoop::DownloadLoop(DownloadServer& server) : m_server(server) {}

DownloadLoop::~DownloadLoop() {
    stop();
    for (DownloadConnection* connection : m_connections) {
        delete connection;
        m_server.connectionClosed();
    }
    m_connections.clear();
    m_acceptPause.reset();
    if (m_listener) evconnlistener_free(m_listener);
    if (m_base) event_base_free(m_base);
}

bool DownloadLoop::open(int listenFd) {
    m_base = event_base_new();
    if (!m_base) return false;
    const int fd = ::dup(listenFd);
    if (fd < 0) return false;
    // Backlog 0: the socket already listens, with the server's deeper queue.
    m_listener = evconnlistener_new(m_base, &DownloadLoop::acceptCallback, this,
                                    LEV_OPT_CLOSE_ON_FREE | LEV_OPT_CLOSE_ON_EXEC, 0, fd);
    if (!m_listener) {
        ::close(fd);
        return false;
    }
    m_acceptPause =
        std::make_unique<AcceptPause>(m_base, m_listener, m_server.limits().acceptPauseMs,
                                      m_server.acceptPaused(), "[DownloadServer] accept failed:");
    if (!m_acceptPause->isValid()) return false;
    return m_thread.start(m_base);
}

void DownloadLoop::stop() {
    m_thread.stop();
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
