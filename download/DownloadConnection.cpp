#include "download/DownloadConnection.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "download/DownloadLimits.h"
#include "download/DownloadLoop.h"
#include "download/DownloadMetrics.h"
#include "download/DownloadReply.h"
#include "download/DownloadServer.h"
#include "http/HttpRequestHead.h"

DownloadConnection::DownloadConnection(DownloadLoop& loop, evutil_socket_t fd)
    : m_loop(loop), m_fd(fd) {}

DownloadConnection::~DownloadConnection() {
    if (m_downloading) m_loop.server().metrics().downloadEnded();
    // What freeing drops from the output was never sent.
    if (m_sentCounter) evbuffer_remove_cb_entry(bufferevent_get_output(m_bev), m_sentCounter);
    if (m_deadline) event_free(m_deadline);
    if (m_bev)
        bufferevent_free(m_bev);  // closes the socket
    else if (m_fd >= 0)
        ::close(m_fd);
}

bool DownloadConnection::open() {
    const DownloadLimits& limits = m_loop.server().limits();
    m_bev = bufferevent_socket_new(m_loop.base(), m_fd, BEV_OPT_CLOSE_ON_FREE);
    if (!m_bev) return false;
    m_sentCounter =
        evbuffer_add_cb(bufferevent_get_output(m_bev), &DownloadConnection::outputCallback, this);
    m_deadline = evtimer_new(m_loop.base(), &DownloadConnection::deadlineCallback, this);
    if (!m_deadline) return false;
    const timeval headTime{limits.headSeconds, 0};
    evtimer_add(m_deadline, &headTime);
    bufferevent_setcb(m_bev, &DownloadConnection::readCallback, &DownloadConnection::writeCallback,
                      &DownloadConnection::eventCallback, this);
    // Reading stops once a head could no longer be accepted: the input stays bounded.
    bufferevent_setwatermark(m_bev, EV_READ, 0, limits.maxHeadBytes + 1);
    return bufferevent_enable(m_bev, EV_READ) == 0;
}

void DownloadConnection::readCallback(bufferevent*, void* arg) {
    static_cast<DownloadConnection*>(arg)->readHead();
}

void DownloadConnection::writeCallback(bufferevent*, void* arg) {
    auto* self = static_cast<DownloadConnection*>(arg);
    if (self->m_state != State::Sending) return;
    // The output is empty: the next piece, or the reply is out.
    if (self->m_body.done()) return self->replySent();
    if (!self->m_body.feed(bufferevent_get_output(self->m_bev))) self->close();
}

void DownloadConnection::eventCallback(bufferevent*, short, void* arg) {
    // End of input, an error or a time-out: in every state the connection is done.
    static_cast<DownloadConnection*>(arg)->close();
}

void DownloadConnection::outputCallback(evbuffer*, const evbuffer_cb_info* info, void* arg) {
    auto* self = static_cast<DownloadConnection*>(arg);
    if (self->m_status != 0 && info->n_deleted > 0)
        self->m_loop.server().metrics().sent(self->m_status, info->n_deleted);
}

void DownloadConnection::deadlineCallback(evutil_socket_t, short, void* arg) {
    auto* self = static_cast<DownloadConnection*>(arg);
    if (self->m_state == State::ReadingHead) self->close();
}

void DownloadConnection::readHead() {
    evbuffer* input = bufferevent_get_input(m_bev);
    if (m_state != State::ReadingHead) {
        evbuffer_drain(input, evbuffer_get_length(input));
        return;
    }
    // Empty lines before a request line are allowed.
    while (evbuffer_get_length(input) > 0) {
        char first = 0;
        evbuffer_copyout(input, &first, 1);
        if (first != '\r' && first != '\n') break;
        evbuffer_drain(input, 1);
        m_scanned = 0;
    }
    const size_t size = evbuffer_get_length(input);
    if (size == 0) return;
    const char* data = reinterpret_cast<const char*>(evbuffer_pullup(input, -1));
    const size_t end = headEnd(data, size);
    const size_t limit = m_loop.server().limits().maxHeadBytes;
    if (end == 0 && size <= limit) return;
    startReply();
    if (end == 0 || end > limit) {
        evbuffer_drain(input, size);
        DownloadReply::writeError(bufferevent_get_output(m_bev), 1, 431,
                                  "Request Header Fields Too Large", "Header too large");
        replied(431);
        return;
    }
    answer(data, end);
}

void DownloadConnection::startReply() {
    bufferevent_disable(m_bev, EV_READ);
    event_del(m_deadline);
    m_state = State::Sending;
    // Corked while the reply is written: the head and the file go out in full-sized segments.
    setCork(true);
    const timeval sendTime{m_loop.server().limits().sendSeconds, 0};
    bufferevent_set_timeouts(m_bev, nullptr, &sendTime);
}

size_t DownloadConnection::headEnd(const char* data, size_t size) {
    for (size_t i = m_scanned; i < size; ++i) {
        if (data[i] != '\n') continue;
        if (i + 1 < size && data[i + 1] == '\n') return i + 2;
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
    }
    // A line end in the last two bytes may still start the blank line.
    m_scanned = size >= 2 ? size - 2 : 0;
    return 0;
}

void DownloadConnection::answer(const char* data, size_t headSize) {
    evbuffer* output = bufferevent_get_output(m_bev);
    HttpRequestHead head;
    const HttpRequestHead::Parse parsed = HttpRequestHead::parse(data, headSize, head);
    std::string path;
    int status = 0;
    if (parsed == HttpRequestHead::Parse::TooManyFields) {
        status = 431;
        DownloadReply::writeError(output, head.minorVersion, status,
                                  "Request Header Fields Too Large", "Too many header fields");
    } else if (parsed != HttpRequestHead::Parse::Ok ||
               !HttpRequestHead::decodePath(head.target, path)) {
        status = 400;
        DownloadReply::writeError(output, head.minorVersion, status, "Bad Request", "Bad request");
    } else if (path == "/test" && head.method == "GET") {
        // The load balancer's health check, answered as the management port answers it; no
        // download to count.
        DownloadReply::writeTest(output, head.minorVersion);
        evbuffer_drain(bufferevent_get_input(m_bev), headSize);
        return;
    } else {
        DownloadServer::Served file;
        const DownloadServer::Lookup found = m_loop.server().fileFor(path, file);
        if (found == DownloadServer::Lookup::Failed) {
            status = 503;
            DownloadReply::writeError(output, head.minorVersion, status, "Service Unavailable",
                                      "Try again later", !head.isHead());
        } else {
            status = DownloadReply::writeFile(
                output, head, found == DownloadServer::Lookup::Found ? &file.path : nullptr,
                file.digest, m_body);
        }
    }
    replied(status);
    evbuffer_drain(bufferevent_get_input(m_bev), headSize);
}

void DownloadConnection::replied(int status) {
    m_status = status;
    DownloadMetrics& metrics = m_loop.server().metrics();
    metrics.answered(status);
    m_downloading = status == 200 || status == 206;
    if (m_downloading) metrics.downloadBegan();
}

void DownloadConnection::setCork(bool on) {
    const int value = on ? 1 : 0;
    setsockopt(m_fd, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

void DownloadConnection::replySent() {
    setCork(false);  // the reply's last partial segment leaves now
    int unread = 0;
    if (ioctl(m_fd, FIONREAD, &unread) == 0 && unread == 0) {
        // The kernel still delivers what it holds of the reply, then the FIN.
        close();
        return;
    }
    // Closing with unread input would reset the connection: the client reads the reply's end
    // first, and closes.
    ::shutdown(m_fd, SHUT_WR);
    m_state = State::Lingering;
    evbuffer_drain(bufferevent_get_input(m_bev), evbuffer_get_length(bufferevent_get_input(m_bev)));
    bufferevent_setwatermark(m_bev, EV_READ, 0, 0);
    const timeval linger{m_loop.server().limits().lingerSeconds, 0};
    bufferevent_set_timeouts(m_bev, &linger, nullptr);
    bufferevent_enable(m_bev, EV_READ);
}

void DownloadConnection::close() {
    m_loop.release(this);
}
