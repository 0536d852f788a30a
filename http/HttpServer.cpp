#include "http/HttpServer.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <event2/listener.h>
#include <event2/thread.h>
#include <event2/util.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDebug>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "http/EventLoops.h"
#include "http/HttpServerShared.h"
#include "http/ListenSocket.h"
#include "http/TlsContext.h"
#include "http/UniqueFd.h"

namespace {

constexpr int kPoolSize = 5;
constexpr size_t kMaxSingleWrite = 4 * 1024 * 1024;
constexpr ev_uint16_t kAllowedMethods = EVHTTP_REQ_GET | EVHTTP_REQ_POST | EVHTTP_REQ_HEAD |
                                        EVHTTP_REQ_PUT | EVHTTP_REQ_DELETE | EVHTTP_REQ_CONNECT |
                                        EVHTTP_REQ_PATCH;
static_assert(kAllowedMethods == 415, "GET, POST, HEAD, PUT, DELETE, CONNECT and PATCH");

void eventLogCallback(int severity, const char* msg) {
    if (severity >= EVENT_LOG_WARN)
        qWarning("[eventLogCallaBack] %d %s", severity, msg);
    else
        qDebug("[eventLogCallaBack] %d %s", severity, msg);
}

// A quarter of the open-file limit: the rest stays for the process's other servers, files and
// database.
int defaultMaxConnections() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 16384;
    return static_cast<int>(qBound<rlim_t>(16, limit.rlim_cur / 4, 1 << 20));
}

// A request that its handler left unanswered. evhttp stops reading once a request is complete,
// so its own time-out never fires for it: without this the connection would stay open forever.
struct Unanswered {
    evhttp_request* req;
    event* timer;

    static void expired(evutil_socket_t, short, void* arg) {
        auto* unanswered = static_cast<Unanswered*>(arg);
        // Frees the request too, and runs closed() first.
        if (evhttp_connection* evcon = evhttp_request_get_connection(unanswered->req))
            evhttp_connection_free(evcon);
    }
    static void closed(evhttp_connection* evcon, void* arg) {
        auto* unanswered = static_cast<Unanswered*>(arg);
        // A connection that failed has handed the request over to us; otherwise evhttp frees
        // it with the connection.
        if (evhttp_request_get_connection(unanswered->req) != evcon)
            evhttp_request_free(unanswered->req);
        event_free(unanswered->timer);
        delete unanswered;
    }
};

}  // namespace

namespace http_detail {

void appendWithRetry(evbuffer* buffer, const char* data, size_t size) {
    if (evbuffer_add(buffer, data, size) == 0) return;
    for (int waitMs = 200; waitMs <= 1000; waitMs += 200) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        if (evbuffer_add(buffer, data, size) == 0) return;
    }
}

void closeAfterReply(evhttp_request* req) {
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    if (!evhttp_find_header(headers, "Connection"))
        evhttp_add_header(headers, "Connection", "close");
}

void trimForHead(evhttp_request* req, evbuffer* body) {
    if (body && evhttp_request_get_command(req) == EVHTTP_REQ_HEAD) {
        // evhttp would send the body, and counts none for HEAD.
        evkeyvalq* headers = evhttp_request_get_output_headers(req);
        if (!evhttp_find_header(headers, "Content-Length"))
            evhttp_add_header(headers, "Content-Length",
                              std::to_string(evbuffer_get_length(body)).c_str());
        evbuffer_drain(body, evbuffer_get_length(body));
    }
}

void sendReply(evhttp_request* req, int code, const char* reason, evbuffer* body) {
    closeAfterReply(req);
    trimForHead(req, body);
    evhttp_send_reply(req, code, reason, body);
}

bool dropRequest(evhttp_request* req) {
    if (evhttp_request_get_connection(req) != nullptr) return false;
    evhttp_request_free(req);
    return true;
}

QString peerText(evhttp_connection* evcon) {
    char* address = nullptr;
    ev_uint16_t port = 0;
    evhttp_connection_get_peer(evcon, &address, &port);
    return QString::fromUtf8(address ? address : "") + ':' + QString::number(port);
}

}  // namespace http_detail

using namespace http_detail;

// One request on its way through processRequest: made there, and found by the reply helpers
// through the server's table while its handler runs.
struct HttpServer::RequestContext {
    EventLoop* loop;  // the loop the request came in on: its libevent calls run there
    bool handedBack = false;
    int status = 0;  // of the reply, once handed back with one
    int requestClass = 0;
    std::unique_lock<std::mutex>* lock = nullptr;  // the request lock, held by the handler
};

HttpServer::HttpServer(QObject*) : QObject(nullptr) {
    if (!init()) qDebug("[init] init failed.");
}

HttpServer::~HttpServer() {
    if (m_running) stop();
}

bool HttpServer::init() {
    // Replies are produced on worker threads while the loops run, so libevent's locking must be
    // switched on before the first event base exists. No signal handler is installed here: the
    // service's console control handling owns SIGINT and SIGTERM.
    static const int threadSupport = evthread_use_pthreads();
    // A client that resets its connection must cost a failed write, not the process.
    static const bool pipeIgnored = [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    Q_UNUSED(pipeIgnored);
    if (threadSupport != 0) {
        qDebug("[init] evthread_use_pthreads failed.");
        return false;
    }
    return true;
}

bool HttpServer::start(const QString& ip, quint16 port) {
    // Already serving another address: move, rather than keep serving the old one.
    if (m_loops && (ip != m_ip || port != m_port)) stop();
    m_ip = ip;
    m_port = port;
    if (ip.isEmpty() || port == 0) {
        qDebug("[start] Start Failed. Ip is Empty or port is zero!");
        return false;
    }
    if (m_loops) return true;  // serving this address already
    if (!startServer()) {
        qCritical().nospace() << "[start] HTTP Server start failed! " << port;
        return false;
    }
    m_stopping = false;
    qInfo().nospace() << "[start] HTTP Server start OK! " << port;
    m_running = true;
    return true;
}

bool HttpServer::startServer() {
    event_set_log_callback(eventLogCallback);
    // Whatever is built here belongs to `started`: a step that fails just returns, and the
    // destructors release what the steps before it made.
    m_limits.bodyBudget = m_bodyBudget;
    m_limits.stallSeconds = m_stallSeconds;
    m_limits.acceptPauseMs = m_acceptPauseMs;
    m_limits.maxBodySize = kMaxBodySize;
    m_limits.maxConnections = m_maxConnections > 0 ? m_maxConnections : defaultMaxConnections();
    m_limits.maxPerAddress = m_maxPerAddress > 0 ? qMin(m_maxPerAddress, m_limits.maxConnections)
                                                 : qMax(1, m_limits.maxConnections / 4);
    auto started = std::make_unique<EventLoops>();
    started->listenSocket = boundSocket(m_ip.toStdString(), m_port);
    if (!started->listenSocket.valid()) {
        qDebug("bind failed");
        qDebug("[startServer] create socket failed");
        return false;
    }
    for (int i = 0; i < m_threadCount; ++i) {
        std::unique_ptr<EventLoop> loop = openLoop(started->listenSocket.get());
        if (!loop) return false;
        started->loops.push_back(std::move(loop));
    }
    if (::listen(started->listenSocket.get(), m_backlog) < 0) {
        qDebug("[startServer] listen failed");
        return false;
    }
    for (auto& loop : started->loops) {
        evconnlistener* listener = loop->listener;
        loop->invoker->invoke([listener] { evconnlistener_enable(listener); });
    }
    m_loops = std::move(started);
    return true;
}

std::unique_ptr<EventLoop> HttpServer::openLoop(int listenFd) {
    auto failed = [](const char* step) {
        qDebug("%s", step);
        qDebug("[startServer] create thread failed");
        return nullptr;
    };
    std::unique_ptr<EventLoop> loop(new (std::nothrow) EventLoop(this));
    if (!loop) return failed("[startServer] handleThreadInfo failed.");
    loop->base = event_base_new();
    if (!loop->base) return failed("[startServer] event_base_new failed.");
    loop->http = evhttp_new(loop->base);
    if (!loop->http) return failed("[startServer] evhttp_new failed.");
    // A reply carries only the Content-Type its handler chose (none for some files).
    evhttp_set_default_content_type(loop->http, nullptr);

    // evhttp closes the socket it accepts on when freed: each loop gets its own descriptor of
    // the one listening socket.
    UniqueFd fd(::dup(listenFd));
    evhttp_bound_socket* bound =
        fd.valid() ? evhttp_accept_socket_with_handle(loop->http, fd.get()) : nullptr;
    if (!bound) return failed("[startServer] evhttp_accept_socket_with_handle failed.");
    fd.release();  // evhttp's now
    loop->listener = evhttp_bound_socket_get_listener(bound);
    // Until listen() the socket reports hang-up; accept only once it listens.
    evconnlistener_disable(loop->listener);
    loop->acceptPause = std::make_unique<AcceptPause>(
        loop->base, loop->listener, m_limits.acceptPauseMs, m_limits.acceptPaused);
    if (!loop->acceptPause->isValid()) return failed("[startServer] create thread failed.");
    // Plain or TLS, every connection is made and followed by the table, within its limits.
    loop->clients = std::make_unique<ClientConnections>(m_limits, m_tls.get());
    evhttp_set_bevcb(loop->http, &ClientConnections::newConnection, loop->clients.get());
    evhttp_set_allowed_methods(loop->http, kAllowedMethods);
    evhttp_set_cb(loop->http, "/test", testCallback, loop.get());
    evhttp_set_gencb(loop->http, genericCallback, loop.get());
    evhttp_set_timeout(loop->http, m_connectionTimeout);
    evhttp_set_max_headers_size(loop->http, kMaxHeadersSize);
    evhttp_set_max_body_size(loop->http, kMaxBodySize);
    loop->invoker = std::make_unique<LoopInvoker>(loop->base);
    if (!loop->invoker->isValid()) return failed("[startServer] create thread failed.");
    if (!loop->thread.start(loop->base)) return failed("[startServer] create thread failed.");
    try {
        loop->workers = std::make_unique<ThreadPool>(kPoolSize);
    } catch (const std::system_error&) {
        return failed("[startServer] create m_handleThreadPool failed.");
    }
    return loop;
}

bool HttpServer::setTls(const QString& certificateFile, const QString& keyFile, QString& error) {
    std::shared_ptr<ssl_ctx_st> context = TlsContext::load(certificateFile, keyFile, error);
    if (!context) return false;
    m_tls = std::move(context);
    return true;
}

void HttpServer::disposeLoops() {
    m_loops.reset();
}

void HttpServer::stop() {
    m_stopping = true;
    disposeLoops();
}

void HttpServer::testCallback(evhttp_request* req, void* arg) {
    if (!static_cast<EventLoop*>(arg)->clients->requestRead(req)) return;
    evbuffer* buffer = evbuffer_new();
    if (!buffer) return;
    evbuffer_add(buffer, "This is the test buf", 20);
    trimForHead(req, buffer);
    evhttp_send_reply(req, 200, "OK", buffer);
    evbuffer_free(buffer);
}

void HttpServer::genericCallback(evhttp_request* req, void* arg) {
    auto* loop = static_cast<EventLoop*>(arg);
    if (evhttp_request_get_connection(req) == nullptr) {
        evhttp_request_free(req);
        return;
    }
    if (!loop->clients->requestRead(req)) return;  // refused, and answered
    HttpServer* server = loop->server;
    const auto arrived = std::chrono::steady_clock::now();
    loop->workers->enqueue(
        [server, req, loop, arrived] { server->processRequest(req, loop, arrived); });
}

void HttpServer::onLoop(RequestContext* context, const std::function<void()>& work) {
    if (context)
        context->loop->invoker->invoke(work);
    else
        work();
}

ClientConnections* HttpServer::clientsOf(RequestContext* context) {
    return context ? context->loop->clients.get() : nullptr;
}

void HttpServer::watchClose(RequestContext* context, evhttp_connection* evcon,
                            void (*listener)(evhttp_connection*, void*), void* arg) {
    if (context)
        context->loop->clients->setCloseListener(evcon, listener, arg);
    else
        evhttp_connection_set_closecb(evcon, listener, arg);
}

void HttpServer::withoutRequestLock(evhttp_request* req, const std::function<void()>& work) {
    RequestContext* context = contextOf(req);
    if (!context || !context->lock || !context->lock->owns_lock()) {
        work();
        return;
    }
    context->lock->unlock();
    work();
    context->lock->lock();
}

void HttpServer::handBack(RequestContext* context, int status) {
    if (!context) return;
    context->handedBack = true;
    context->status = status;
}

HttpServer::RequestContext* HttpServer::contextOf(evhttp_request* req) {
    std::lock_guard<std::mutex> lock(m_contextsMutex);
    const auto found = m_contexts.find(req);
    return found == m_contexts.end() ? nullptr : found->second;
}

void HttpServer::processRequest(evhttp_request* req, EventLoop* loop,
                                std::chrono::steady_clock::time_point arrived) {
    RequestContext context{loop};
    bool connected = false;
    onLoop(&context, [&] {
        evhttp_connection* evcon = req ? evhttp_request_get_connection(req) : nullptr;
        connected = evcon != nullptr;
        // One request per connection: no keep-alive (see closeAfterReply).
        if (connected) {
            evhttp_connection_free_on_completion(evcon);
            // libevent writes 16 KiB per call by default, which caps buffered and streamed
            // replies far below what the socket takes.
            bufferevent_set_max_single_write(evhttp_connection_get_bufferevent(evcon),
                                             kMaxSingleWrite);
        }
    });
    if (!connected) {
        qDebug("[processRequest] Connection has disconnect.");
        if (req) onLoop(&context, [req] { dropRequest(req); });
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_requestLock);
        context.lock = &lock;
        // A server being stopped starts no more handlers (its derived part may be going away);
        // evhttp frees the request with its loop.
        if (!m_stopping) {
            // The helpers find the context while the handler runs. Under the request lock no
            // other handler runs, so no other request in the table can have this one's address
            // (a freed request's memory may be reused by the next).
            struct Registered {
                HttpServer& server;
                evhttp_request* req;
                Registered(HttpServer& s, evhttp_request* r, RequestContext& context)
                    : server(s), req(r) {
                    std::lock_guard<std::mutex> lock(server.m_contextsMutex);
                    server.m_contexts[req] = &context;
                }
                ~Registered() {
                    std::lock_guard<std::mutex> lock(server.m_contextsMutex);
                    server.m_contexts.erase(req);
                }
            } registered(*this, req, context);
            context.requestClass = requestClass(req);
            dispatch(req);
            requestDone(context.requestClass, context.status,
                        std::chrono::steady_clock::now() - arrived);
        }
        context.lock = nullptr;
    }
    if (!context.handedBack) {
        const int timeout = m_connectionTimeout;
        onLoop(&context, [req, loop, timeout] {
            evhttp_connection* evcon = evhttp_request_get_connection(req);
            if (!evcon) {
                evhttp_request_free(req);
                return;
            }
            loop->clients->dropBody(req);
            auto* unanswered = new Unanswered{req, nullptr};
            unanswered->timer = evtimer_new(loop->base, &Unanswered::expired, unanswered);
            loop->clients->setCloseListener(evcon, &Unanswered::closed, unanswered);
            const timeval delay{timeout, 0};
            evtimer_add(unanswered->timer, &delay);
        });
    }
}

void HttpServer::dispatch(evhttp_request* req) {
    switch (evhttp_request_get_command(req)) {
        case EVHTTP_REQ_GET:
        case EVHTTP_REQ_HEAD:  // the replies leave out the body
            processGetRequest(req);
            break;
        case EVHTTP_REQ_POST:
            processPostRequest(req);
            break;
        case EVHTTP_REQ_PUT:
            processPutRequest(req);
            break;
        case EVHTTP_REQ_DELETE:
            processDeleteRequest(req);
            break;
        default:
            processUnknownRequest(req);
            break;
    }
}

bool HttpServer::sendError(evhttp_request* req, int code, const QString& reason) {
    RequestContext* context = contextOf(req);
    const QByteArray text = reason.toUtf8();
    onLoop(context, [&] {
        // The error page would go out as the body of a HEAD reply.
        if (evhttp_request_get_command(req) == EVHTTP_REQ_HEAD) {
            sendReply(req, code, text.constData(), nullptr);
        } else {
            evhttp_send_error(req, code, text.constData());
        }
    });
    handBack(context, code);
    return false;
}

bool HttpServer::replyClient(evhttp_request* req, int code, const QString&, const char* format,
                             ...) {
    evbuffer* buffer = evbuffer_new();
    if (!buffer) {
        qDebug("[replyClient] failed to create response buffer.");
        return false;
    }
    if (format) {
        va_list args;
        va_start(args, format);
        const int added = evbuffer_add_vprintf(buffer, format, args);
        va_end(args);
        if (added < 0) {
            qDebug("[replyClient] failed to add response buffer.");
            evbuffer_free(buffer);
            return false;
        }
    }
    RequestContext* context = contextOf(req);
    onLoop(context, [&] { sendReply(req, code, "OK", buffer); });
    handBack(context, code);
    evbuffer_free(buffer);
    return true;
}

bool HttpServer::replyClient(evhttp_request* req, int code, const QString& reason,
                             const QByteArray& body) {
    evbuffer* buffer = evbuffer_new();
    if (!buffer) {
        qDebug("[replyClient] failed to create response buffer.");
        return false;
    }
    if (evbuffer_add(buffer, body.constData(), static_cast<size_t>(body.size())) != 0) {
        qDebug("[replyClient] failed to add response buffer.");
        evbuffer_free(buffer);
        return false;
    }
    const QByteArray text = reason.toUtf8();
    RequestContext* context = contextOf(req);
    onLoop(context, [&] { sendReply(req, code, text.constData(), buffer); });
    handBack(context, code);
    evbuffer_free(buffer);
    return true;
}

bool HttpServer::addHeader(evhttp_request* req, const QString& name, const QString& value) {
    const QByteArray key = name.toLocal8Bit();
    const QByteArray text = value.toLocal8Bit();
    int result = -1;
    onLoop(contextOf(req), [&] {
        result = evhttp_add_header(evhttp_request_get_output_headers(req), key.constData(),
                                   text.constData());
    });
    return result == 0;
}

bool HttpServer::getRequstHeader(evhttp_request* req, const QString& name, QString& value) {
    const char* found =
        evhttp_find_header(evhttp_request_get_input_headers(req), name.toLocal8Bit().constData());
    if (!found) return false;
    value = QString::fromUtf8(found);
    qDebug() << "HttpServer::getRequstHeader"
             << ":" << value;
    return true;
}

qint64 HttpServer::getRequestBody(evhttp_request* req, QByteArray& body) {
    evbuffer* input = evhttp_request_get_input_buffer(req);
    const size_t length = input ? evbuffer_get_length(input) : 0;
    if (length == 0) return -1;
    body.resize(static_cast<int>(length));
    evbuffer_copyout(input, body.data(), length);
    return static_cast<qint64>(length);
}

bool HttpServer::getUrl(evhttp_request* req, QString& url) {
    const char* target = evhttp_request_get_uri(req);
    qDebug("[getUrl] origin url: %s", target);
    qDebug("[getUrl] uri: %s", target);
    char joined[8192] = {0};
    if (evhttp_uri* parsed = evhttp_uri_parse(target)) {
        evhttp_uri_join(parsed, joined, sizeof(joined));
        evhttp_uri_free(parsed);
    }
    qDebug("[getUrl] url: %s", joined);
    url = QString::fromUtf8(target);
    return true;
}

bool HttpServer::getDecodedUrl(evhttp_request* req, QString& url) {
    QString raw;
    getUrl(req, raw);
    char* decoded = evhttp_decode_uri(raw.toUtf8().constData());
    if (!decoded) return false;
    url = QString::fromUtf8(decoded);
    free(decoded);
    return !url.isEmpty();
}

bool HttpServer::getClientAddress(evhttp_request* req, QString& address, quint16& port) {
    bool found = false;
    onLoop(contextOf(req), [&] {
        evhttp_connection* evcon = evhttp_request_get_connection(req);
        if (!evcon) return;
        char* host = nullptr;
        ev_uint16_t peerPort = 0;
        evhttp_connection_get_peer(evcon, &host, &peerPort);
        address = QString::fromUtf8(host ? host : "");
        port = peerPort;
        found = true;
    });
    return found;
}
