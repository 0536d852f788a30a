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

void EmbeddedWebServer::bindUrl(const std::string& url, const std::string& filePath) {
    if (!running()) return;

    // The path follows the authority, which must end in ":<our port>".
    const std::string::size_type scheme = url.find("://");
    const std::string::size_type hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const std::string::size_type pathStart = url.find('/', hostStart);
    if (pathStart == std::string::npos) return;
    const std::string authority = url.substr(hostStart, pathStart - hostStart);
    const std::string portSuffix = ":" + std::to_string(m_port.load());
    if (authority.size() <= portSuffix.size() ||
        authority.compare(authority.size() - portSuffix.size(), portSuffix.size(), portSuffix) !=
            0) {
        return;
    }
    m_server->bind(url.substr(pathStart), filePath);
}
