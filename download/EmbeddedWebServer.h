#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/DownloadServer.h"

// The download server for terminals on HttpPort2: answers each download path its resolver knows
// with the package file (byte ranges for resumed downloads) and every other path with 404
// "Error: File not found" (see DownloadServer). Stops when it goes away.
class EmbeddedWebServer {
  public:
    // Counts into metrics, which outlives it.
    explicit EmbeddedWebServer(DownloadMetrics& metrics);

    // Starts listening on port (0: any free port) at an IPv4 address (empty: all interfaces).
    // False when the port is taken, the address is none, or it already runs; a failed start may
    // be retried.
    bool start(uint32_t port, const std::string& address = std::string());
    // The port it listens on, once started.
    uint32_t port() const { return m_port; }

    bool running() const;
    // Downloads in progress (connections open).
    int openConnections() const { return m_server->openConnections(); }

    // Finds each requested file (in the package table); before start().
    void setResolver(DownloadServer::Resolver resolver);

    EmbeddedWebServer(const EmbeddedWebServer&) = delete;
    EmbeddedWebServer& operator=(const EmbeddedWebServer&) = delete;

  private:
    std::atomic<uint32_t> m_port{0};
    const std::unique_ptr<DownloadServer> m_server;
};
