#include "download/EmbeddedWebServer.h"

#include "download/DownloadServer.h"

EmbeddedWebServer* EmbeddedWebServer::instance() {
    static EmbeddedWebServer* const inst = new EmbeddedWebServer;  // lives as long as the process
    return inst;
}

EmbeddedWebServer::EmbeddedWebServer() : m_server(std::make_unique<DownloadServer>()) {}

bool EmbeddedWebServer::running() const {
    return m_server->running();
}

void EmbeddedWebServer::setResolver(DownloadServer::Resolver resolver) {
    m_server->setResolver(std::move(resolver));
}

bool EmbeddedWebServer::start(uint32_t port) {
    if (running() || port > 65535 || !m_server->start(static_cast<uint16_t>(port))) return false;
    m_port = m_server->port();
    return true;
}
