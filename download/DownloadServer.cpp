#include "download/DownloadServer.h"

#include <arpa/inet.h>
#include <event2/thread.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDebug>
#include <algorithm>
#include <thread>

#include "download/DownloadLoop.h"

namespace {
// The kernel caps it at net.core.somaxconn; a fleet connects in waves.
constexpr int kBacklog = 4096;

int listeningSocket(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, kBacklog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

DownloadServer::DownloadServer(const DownloadLimits& limits) : m_limits(limits) {}

DownloadServer::~DownloadServer() {
    stop();
}

bool DownloadServer::start(uint16_t port, int loops) {
    if (m_running) return false;
    // Loops are ended from the owner's thread: libevent must lock and wake them.
    static const int threadSupport = evthread_use_pthreads();
    if (threadSupport != 0) {
        qDebug("[DownloadServer] libevent thread support failed");
        return false;
    }
    m_listenSocket = UniqueFd(listeningSocket(port));
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
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    getsockname(m_listenSocket.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    m_port = ntohs(bound.sin_port);
    m_running = true;
    return true;
}

void DownloadServer::stop() {
    for (auto& loop : m_loops) loop->stop();  // every loop ends before any is freed
    m_loops.clear();
    m_listenSocket.reset();
    m_running = false;
}

DownloadServer::Lookup DownloadServer::fileFor(const std::string& path,
                                               std::string& filePath) const {
    return m_resolver ? m_resolver(path, filePath) : Lookup::NotFound;
}
