#include "http/HttpServerHelper.h"

#include "http/HttpServer.h"

HttpServerHelper* HttpServerHelper::instance() {
    static HttpServerHelper helper;
    return &helper;
}

HttpServerHelper::~HttpServerHelper() {
    // stop() unregisters, so take the list first and stop outside the lock.
    QList<HttpServer*> servers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        servers = m_servers;
    }
    for (HttpServer* server : servers) server->stop();
}

void HttpServerHelper::addServer(HttpServer* server) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_servers.append(server);
}

void HttpServerHelper::removeServer(HttpServer* server) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_servers.removeOne(server);
}

bool HttpServerHelper::hasServer(const QString& ip, quint16 port) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const HttpServer* server : m_servers)
        if (server->ip() == ip && server->port() == port) return true;
    return false;
}
