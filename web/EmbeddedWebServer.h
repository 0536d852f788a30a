#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

struct mg_connection;
struct mg_context;

// The download server for terminals on HttpPort2: a civetweb server that answers each bound
// download path with its package file (byte ranges for resumed downloads) and every other
// path with 404 "Error: File not found". civetweb runs the connections and threads; the
// handler sends the file and does the range arithmetic itself. Created on first use, never
// stopped.
class EmbeddedWebServer {
  public:
    static EmbeddedWebServer* instance();

    // Starts listening on port (all interfaces). False when civetweb could not start (the port
    // is taken) or a server already runs; a failed start may be retried.
    bool start(uint32_t port);

    // Binds the path of url (the text after ":<port>") to filePath; binding the path again
    // replaces the file. Does nothing before a successful start or when url is not for the
    // port this server listens on. Safe from any thread.
    void bindUrl(const std::string& url, const std::string& filePath);

    bool running() const { return m_context.load() != nullptr; }

    EmbeddedWebServer(const EmbeddedWebServer&) = delete;
    EmbeddedWebServer& operator=(const EmbeddedWebServer&) = delete;

  private:
    EmbeddedWebServer();

    static int handleRequest(mg_connection* conn, void* cbdata);
    bool boundFile(const std::string& path, std::string& filePath) const;

    std::atomic<uint32_t> m_port{0};
    mutable std::mutex m_bindingsMutex;  // guards m_bindings: bindUrl against the workers
    std::map<std::string, std::string> m_bindings;
    std::atomic<mg_context*> m_context{nullptr};
};
