#include "download/EmbeddedWebServer.h"

#include "download/DownloadServer.h"

EmbeddedWebServer::EmbeddedWebServer(DownloadMetrics& metrics)
    : m_server(std::make_unique<DownloadServer>(metrics)) {}

bool EmbeddedWebServer::running() const {
    return m_server->running();
}

void EmbeddedWebServer::setResolver(DownloadServer::Resolver resolver) {
    m_server->setResolver(std::move(resolver));
}

bool EmbeddedWebServer::start(uint32_t port, const std::string& address) {
    if (running() || port > 65535 || !m_server->start(static_cast<uint16_t>(port), 0, address))
        return false;
    m_port = m_server->port();
    return true;
}
