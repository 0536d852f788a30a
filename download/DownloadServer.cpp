#include "download/DownloadServer.h"

#include <event2/thread.h>
#include <sys/socket.h>

#include <QDebug>
#include <algorithm>
#include <thread>

#include "download/DownloadLoop.h"
#include "http/ListenSocket.h"

namespace {
// The kernel caps it at net.core.somaxconn; a fleet connects in waves.
constexpr int kBacklog = 4096;
}  // namespace

DownloadServer::DownloadServer(DownloadMetrics& metrics, const DownloadLimits& limits)
    : m_metrics(metrics), m_limits(limits) {}

DownloadServer::~DownloadServer() {
    stop();
}

bool DownloadServer::start(uint16_t port, int loops, const std::string& address) {
    if (m_running) return false;
    // Loops are ended from the owner's thread: libevent must lock and wake them.
    static const int threadSupport = evthread_use_pthreads();
    if (threadSupport != 0) {
        qDebug("[DownloadServer] libevent thread support failed");
        return false;
    }
    m_listenSocket = boundSocket(address, port);
    if (m_listenSocket.valid() && ::listen(m_listenSocket.get(), kBacklog) != 0)
        m_listenSocket.reset();
    if (!m_listenSocket.valid()) {
        qDebug("[DownloadServer] cannot listen on port %u", static_cast<unsigned>(port));
        return false;
    }
    if (loops <= 0)
        loops = std::max(1, std::min(4, static_cast<int>(std::thread::hardware_concurrency())));
    for (int i = 0; i < loops; ++i) {
        auto loop = std::make_unique<DownloadLoop>(*this);
        if (!loop->open(m_listenSocket.get())) {
            qDebug("[DownloadServer] cannot start an event loop");
            m_loops.clear();
            m_listenSocket.reset();
            return false;
        }
        m_loops.push_back(std::move(loop));
    }
    m_port = boundPort(m_listenSocket.get());
    m_running = true;
    return true;
}

void DownloadServer::stop() {
    for (auto& loop : m_loops) loop->stop();  // every loop ends before any is freed
    m_loops.clear();
    m_listenSocket.reset();
    m_running = false;
}

DownloadServer::Lookup DownloadServer::fileFor(const std::string& path, Served& file) const {
    return m_resolver ? m_resolver(path, file) : Lookup::NotFound;
}
