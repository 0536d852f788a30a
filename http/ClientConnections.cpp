#include "http/ClientConnections.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <sys/socket.h>

#include "http/ServerLimits.h"
#include "http/TlsContext.h"

namespace {

// A refused connection has no request of evhttp's to answer: the reply goes straight out.
const char kBusyReply[] =
    "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";

// The request bytes still in the socket are read away before it is closed, so that the client
// gets an orderly end after the reply rather than a reset that may discard it.
void drain(evutil_socket_t fd) {
    if (fd < 0) return;
    char sink[4096];
    for (int i = 0; i < 16 && recv(fd, sink, sizeof(sink), MSG_DONTWAIT) > 0; ++i) {
    }
}

timeval seconds(int s) {
    return timeval{s, 0};
}

}  // namespace

struct ClientConnections::Client {
    enum class Phase { Setup, Head, Body, Read, Closing };
    enum class Refusal { None, Full, OverBudget };

    ClientConnections* owner = nullptr;
    bufferevent* bev = nullptr;
    evhttp_connection* evcon = nullptr;  // known once attached
    event* timer = nullptr;
    evbuffer_cb_entry* watch = nullptr;
    evbuffer_cb_entry* outputWatch = nullptr;
    Phase phase = Phase::Setup;
    Refusal refusal = Refusal::None;
    std::string address;  // the peer's, once counted against its share
    RequestHeadScanner head;
    qint64 reserved = 0;  // taken from the body budget
    qint64 bodyReceived = 0;
    CloseListener listener = nullptr;
    void* listenerArg = nullptr;
};

static_assert(ClientConnections::kRetryAfterSeconds == 5, "kBusyReply says 5");

ClientConnections::ClientConnections(ServerLimits& limits, ssl_ctx_st* tls)
    : m_limits(limits), m_tls(tls) {}

ClientConnections::~ClientConnections() {
    // Only connections that evhttp freed before they were attached are left: the bufferevent
    // reference held for them is the last one.
    while (!m_clients.empty()) forget(m_clients.begin()->second.get());
}

bufferevent* ClientConnections::newConnection(event_base* base, void* self) {
    auto* owner = static_cast<ClientConnections*>(self);
    ServerLimits& limits = owner->m_limits;
    // An accepted connection ends a burst of descriptor shortage.
    if (limits.acceptPaused.load(std::memory_order_relaxed)) limits.acceptPaused = false;

    bufferevent* bev =
        owner->m_tls ? TlsContext::acceptingBufferevent(base, owner->m_tls) : nullptr;
    // Without TLS state a connection of a TLS server is only tracked, to be closed at once.
    const bool refused = owner->m_tls && !bev;
    if (!bev) bev = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
    if (!bev) return nullptr;
    auto client = std::make_unique<Client>();
    if (refused) client->refusal = Client::Refusal::Full;
    client->owner = owner;
    client->bev = bev;
    client->timer = evtimer_new(base, &ClientConnections::timerFired, client.get());
    if (!client->timer) return bev;
    client->watch =
        evbuffer_add_cb(bufferevent_get_input(bev), &ClientConnections::received, client.get());
    // evhttp builds the connection around the bufferevent after this returns; the reference
    // keeps the bufferevent readable until attach() has found the connection (or found it gone).
    bufferevent_incref(bev);
    if (limits.connections.fetch_add(1) >= limits.maxConnections)
        client->refusal = Client::Refusal::Full;
    const timeval now = seconds(0);
    evtimer_add(client->timer, &now);
    owner->m_clients[bev] = std::move(client);
    return bev;
}

bool ClientConnections::attach(Client* client) {
    if (client->evcon) return true;
    void* arg = nullptr;
    // evhttp hands its connection to the callbacks it sets on the bufferevent; none are set
    // once evhttp has freed it.
    bufferevent_getcb(client->bev, nullptr, nullptr, nullptr, &arg);
    if (!arg) return false;
    client->evcon = static_cast<evhttp_connection*>(arg);
    m_byConnection[client->evcon] = client;
    evhttp_connection_set_closecb(client->evcon, &ClientConnections::closed, client);
    bufferevent_decref(client->bev);  // evhttp holds its own
    if (client->refusal != Client::Refusal::None) return true;
    char* host = nullptr;
    ev_uint16_t port = 0;
    evhttp_connection_get_peer(client->evcon, &host, &port);
    const std::string address = host ? host : "";
    if (m_limits.takeAddress(address))
        client->address = address;
    else
        client->refusal = Client::Refusal::Full;
    return true;
}

void ClientConnections::forget(Client* client) {
    if (client->watch) evbuffer_remove_cb_entry(bufferevent_get_input(client->bev), client->watch);
    if (client->outputWatch)
        evbuffer_remove_cb_entry(bufferevent_get_output(client->bev), client->outputWatch);
    if (client->timer) event_free(client->timer);
    if (client->reserved > 0) m_limits.releaseBody(client->reserved);
    if (!client->address.empty()) m_limits.releaseAddress(client->address);
    m_limits.connections.fetch_sub(1);
    bufferevent* bev = client->bev;
    if (client->evcon)
        m_byConnection.erase(client->evcon);
    else
        bufferevent_decref(bev);
    m_clients.erase(bev);
}

void ClientConnections::refuse(Client* client) {
    // Under TLS a connection beyond the cap would need a handshake to be told: it is closed
    // without one, so that a flood of them holds no descriptor for long.
    if (m_tls && client->refusal == Client::Refusal::Full) return close(client);
    // Through the bufferevent, so that TLS encrypts it; nothing more is read. A client that does
    // not take the answer is closed at the stall time.
    client->phase = Client::Phase::Closing;
    bufferevent_disable(client->bev, EV_READ);
    bufferevent_write(client->bev, kBusyReply, sizeof(kBusyReply) - 1);
    bufferevent_enable(client->bev, EV_WRITE);
    if (!client->outputWatch)
        client->outputWatch = evbuffer_add_cb(bufferevent_get_output(client->bev),
                                              &ClientConnections::written, client);
    const timeval stall = seconds(m_limits.stallSeconds);
    evtimer_add(client->timer, &stall);
}

void ClientConnections::close(Client* client) {
    drain(bufferevent_getfd(client->bev));
    evhttp_connection_free(client->evcon);  // closed() forgets the client
}

void ClientConnections::timerFired(evutil_socket_t, short, void* arg) {
    auto* client = static_cast<Client*>(arg);
    ClientConnections* self = client->owner;
    if (!self->attach(client)) {
        self->forget(client);
        return;
    }
    if (client->phase == Client::Phase::Closing) {
        close(client);
    } else if (client->phase == Client::Phase::Read) {
        // A handler has the request (a refused one was answered): only evhttp ends it now.
    } else if (client->refusal != Client::Refusal::None) {
        self->refuse(client);
    } else if (client->phase == Client::Phase::Setup) {
        // The whole head must arrive within the stall time, however it trickles.
        client->phase = Client::Phase::Head;
        const timeval stall = seconds(self->m_limits.stallSeconds);
        evtimer_add(client->timer, &stall);
    } else {
        evhttp_connection_free(client->evcon);  // stalled
    }
}

void ClientConnections::received(evbuffer* buffer, const evbuffer_cb_info* info, void* arg) {
    auto* client = static_cast<Client*>(arg);
    if (info->n_added == 0 || client->phase == Client::Phase::Read) return;
    ClientConnections* self = client->owner;
    if (!self->attach(client) || client->refusal != Client::Refusal::None) return;
    if (client->phase == Client::Phase::Body) return self->bodyArrived(client, info->n_added);

    // The new bytes are the last n_added of the buffer.
    evbuffer_ptr at;
    evbuffer_ptr_set(buffer, &at, info->orig_size, EVBUFFER_PTR_SET);
    qint64 left = static_cast<qint64>(info->n_added);
    char chunk[4096];
    while (left > 0 && !client->head.headDone()) {
        const ev_ssize_t copied = evbuffer_copyout_from(
            buffer, &at, chunk, static_cast<size_t>(qMin<qint64>(left, 4096)));
        if (copied <= 0) return;
        const qsizetype used = client->head.feed(chunk, copied);
        evbuffer_ptr_set(buffer, &at, static_cast<size_t>(used), EVBUFFER_PTR_ADD);
        left -= used;
    }
    if (!client->head.headDone()) return;

    const RequestHeadScanner& head = client->head;
    const qint64 announced = head.contentLength();
    if (!head.expectsBody() || (announced <= 0 && !head.chunked())) {
        client->phase = Client::Phase::Read;  // evhttp hands it over at once
        evtimer_del(client->timer);
        return;
    }
    client->phase = Client::Phase::Body;
    // A length evhttp refuses itself (413) is not held; a chunked body is counted as it comes.
    if (announced > 0 && announced <= self->m_limits.maxBodySize) {
        if (!self->m_limits.reserveBody(announced)) {
            client->refusal = Client::Refusal::OverBudget;
            const timeval now = seconds(0);
            evtimer_add(client->timer, &now);
            return;
        }
        client->reserved = announced;
    }
    self->bodyArrived(client, left);
}

void ClientConnections::bodyArrived(Client* client, qint64 bytes) {
    client->bodyReceived += bytes;
    // More than announced (chunk framing, or a length read differently): held all the same.
    const qint64 extra = client->bodyReceived - client->reserved;
    if (extra > 0) {
        if (!m_limits.reserveBody(extra)) {
            client->refusal = Client::Refusal::OverBudget;
            const timeval now = seconds(0);
            evtimer_add(client->timer, &now);
            return;
        }
        client->reserved += extra;
    }
    // Progress: the body may stay silent for the stall time again.
    const timeval stall = seconds(m_limits.stallSeconds);
    evtimer_add(client->timer, &stall);
}

bool ClientConnections::requestRead(evhttp_request* req) {
    // Found by its bufferevent: a request may be read whole before its connection was attached.
    evhttp_connection* evcon = evhttp_request_get_connection(req);
    const auto found = m_clients.find(evhttp_connection_get_bufferevent(evcon));
    if (found == m_clients.end() || !attach(found->second.get())) return true;
    Client* client = found->second.get();
    if (client->phase == Client::Phase::Closing) return false;  // refused, the answer on its way
    client->phase = Client::Phase::Read;
    evtimer_del(client->timer);
    // evhttp takes a CONNECT for a tunnel and never closes it after the answer: the
    // connection is closed once the answer has been written.
    if (client->head.method() == "CONNECT" && !client->outputWatch)
        client->outputWatch = evbuffer_add_cb(bufferevent_get_output(client->bev),
                                              &ClientConnections::written, client);
    if (client->refusal == Client::Refusal::None) return true;
    // evhttp_send_error would drop the Retry-After header.
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    evhttp_add_header(headers, "Retry-After", QByteArray::number(kRetryAfterSeconds).constData());
    evhttp_add_header(headers, "Connection", "close");
    evhttp_send_reply(req, 503, "Service Unavailable", nullptr);
    return false;
}

void ClientConnections::written(evbuffer* buffer, const evbuffer_cb_info* info, void* arg) {
    auto* client = static_cast<Client*>(arg);
    if (info->n_deleted == 0 || evbuffer_get_length(buffer) > 0) return;
    client->phase = Client::Phase::Closing;
    const timeval now = seconds(0);
    evtimer_add(client->timer, &now);
}

void ClientConnections::dropBody(evhttp_request* req) {
    evbuffer* body = evhttp_request_get_input_buffer(req);
    if (body) evbuffer_drain(body, evbuffer_get_length(body));
    const auto found = m_byConnection.find(evhttp_request_get_connection(req));
    if (found == m_byConnection.end()) return;
    Client* client = found->second;
    if (client->reserved > 0) m_limits.releaseBody(client->reserved);
    client->reserved = 0;
}

void ClientConnections::setCloseListener(evhttp_connection* evcon, CloseListener listener,
                                         void* arg) {
    const auto found = m_byConnection.find(evcon);
    if (found == m_byConnection.end()) {
        evhttp_connection_set_closecb(evcon, listener, arg);
        return;
    }
    found->second->listener = listener;
    found->second->listenerArg = arg;
}

void ClientConnections::closed(evhttp_connection* evcon, void* arg) {
    auto* client = static_cast<Client*>(arg);
    if (client->listener) client->listener(evcon, client->listenerArg);
    client->owner->forget(client);
}
