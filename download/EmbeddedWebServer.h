#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/DownloadServer.h"

// The download server for terminals on HttpPort2: answers each bound download path with its
// package file (byte ranges for resumed downloads) and every other path with 404 "Error: File
// not found" (see DownloadServer). Created on first use, never stopped.
class EmbeddedWebServer {
  public:
    static EmbeddedWebServer* instance();

    // Starts listening on port (all interfaces; 0: any free port). False when the port is taken
    // or a server already runs; a failed start may be retried.
    bool start(uint32_t port);
    // The port it listens on, once started.
    uint32_t port() const { return m_port; }

    // Binds the path of url (the text after ":<port>") to filePath; binding the path again
    // replaces the file. Does nothing before a successful start or when url is not for the
    // port this server listens on. Safe from any thread.
    void bindUrl(const std::string& url, const std::string& filePath);

    bool running() const;

    // Finds each requested file elsewhere (the package table) instead of in the bindings;
    // before start().
    void setResolver(DownloadServer::Resolver resolver);

    EmbeddedWebServer(const EmbeddedWebServer&) = delete;
    EmbeddedWebServer& operator=(const EmbeddedWebServer&) = delete;

  private:
    EmbeddedWebServer();

    std::atomic<uint32_t> m_port{0};
    const std::unique_ptr<DownloadServer> m_server;
};
