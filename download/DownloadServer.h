#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/DownloadLimits.h"
#include "http/UniqueFd.h"

class DownloadLoop;
class DownloadMetrics;

// The terminals' download port: answers each path its resolver knows with that file (byte
// ranges for resumed downloads, sent by the kernel from the file) and every other path with 404. A
// few event loops serve every connection; a client that is slow to ask or to read costs a
// connection and its small buffers, and holds up nobody. One request per connection.
class DownloadServer {
  public:
    // Counts into metrics, which outlives it.
    explicit DownloadServer(DownloadMetrics& metrics,
                            const DownloadLimits& limits = DownloadLimits());
    ~DownloadServer();
    DownloadServer(const DownloadServer&) = delete;
    DownloadServer& operator=(const DownloadServer&) = delete;

    // Listens on port (0: any free one) at an IPv4 address (empty: all interfaces) with `loops`
    // event loops (0: one per core, at most 4). False when the port cannot be bound or the
    // server already runs. start() and stop() come from one thread.
    bool start(uint16_t port, int loops = 0, const std::string& address = std::string());
    void stop();
    bool running() const { return m_running; }
    uint16_t port() const { return m_port; }
    // Connections accepted and not yet closed, over all loops.
    int openConnections() const { return m_connections; }
    void connectionOpened() {
        ++m_connections;
        m_acceptPaused = false;  // an accepted connection ends a burst of descriptor shortage
    }
    // Set by the loops while accepting is paused, so that a burst logs one line.
    std::atomic<bool>& acceptPaused() { return m_acceptPaused; }
    void connectionClosed() { --m_connections; }

    // The file for a request path (the package table, which every instance shares). Lookup:
    // the file, NotFound, or Failed when it could not be asked (503, so a client retries rather
    // than giving up). Set before start(); without one every path answers 404.
    enum class Lookup { Found, NotFound, Failed };
    // A found file, and the hex SHA-256 stored with its content (empty when none was), which
    // its entity tag is made of.
    struct Served {
        std::string path;
        std::string digest;
    };
    using Resolver = std::function<Lookup(const std::string& path, Served& file)>;
    void setResolver(Resolver resolver) { m_resolver = std::move(resolver); }
    Lookup fileFor(const std::string& path, Served& file) const;

    const DownloadLimits& limits() const { return m_limits; }
    DownloadMetrics& metrics() const { return m_metrics; }

  private:
    DownloadMetrics& m_metrics;
    const DownloadLimits m_limits;
    Resolver m_resolver;
    UniqueFd m_listenSocket;
    std::vector<std::unique_ptr<DownloadLoop>> m_loops;
    std::atomic<bool> m_running{false};
    std::atomic<uint16_t> m_port{0};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_acceptPaused{false};
};
