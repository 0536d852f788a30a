#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "http/ServerLimits.h"

struct evhttp_request;
struct evhttp_connection;
struct evbuffer;
struct EventLoop;
struct EventLoops;
struct ssl_ctx_st;
class ClientConnections;

// The service's own HTTP/1.1 server on libevent's evhttp: several event loops accept on one
// listening socket, and behind each loop a small worker pool runs the request handlers, one at a
// time per server (the request lock). A derived class answers the five kinds of request with the
// reply helpers below, before the handler returns (a request left unanswered is closed at the
// connection time-out). The helpers act for the request whose handler is running (they find its
// context from the request); called with any other request they work on the calling thread.
// Its destructor must call stop() while its handlers still exist.
class HttpServer : public QObject {
    Q_OBJECT
  public:
    // Bounds on what one client may make the server hold in memory; larger requests are
    // refused by evhttp itself (413).
    static constexpr long kMaxHeadersSize = 64 * 1024;
    static constexpr long kMaxBodySize = 64 * 1024 * 1024;
    static constexpr int kConnectionTimeoutSeconds = 240;
    // Bounds on what all clients together may make it hold (see ServerLimits).
    static constexpr qint64 kDefaultBodyBudget = 256LL * 1024 * 1024;
    static constexpr int kDefaultStallSeconds = 30;
    static constexpr qint64 kFilePieceSize = 10485760;  // 10 MiB

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    bool start(const QString& ip, quint16 port);
    void stop();

    QString ip() const { return m_ip; }
    quint16 port() const { return m_port; }
    int threadCount() const { return m_threadCount; }
    void setThreadCount(int count) { m_threadCount = count; }
    bool isStopping() const { return m_stopping; }
    // Seconds an idle or unanswered connection is kept, and an answer may wait for its client
    // to read on; takes effect at the next start, as do the limits below.
    void setConnectionTimeout(int seconds) { m_connectionTimeout = seconds; }
    // HTTPS only, from the next start on: the PEM certificate chain and its key. False, with
    // the reason in error, when they cannot be used.
    bool setTls(const QString& certificateFile, const QString& keyFile, QString& error);
    bool usesTls() const { return m_tls != nullptr; }
    // Request bodies held in memory at once across all connections; a request that would go
    // beyond gets 503 with Retry-After at once.
    void setBodyBudget(qint64 bytes) { m_bodyBudget = bytes; }
    // A request head (under TLS with the handshake before it) must arrive whole within this time,
    // and a body may not fall silent longer.
    void setStallTimeout(int seconds) { m_stallSeconds = seconds; }
    // Connections held at once; newcomers beyond get 503 and are closed (under TLS closed at once,
    // before any handshake). 0 (the default) takes a quarter of the open-file limit at start.
    void setMaxConnections(int count) { m_maxConnections = count; }
    // Connections one source address may hold at once, so that one client cannot take the whole
    // cap; 0 (the default) takes a quarter of the cap. Clients behind one balancer share it.
    void setMaxConnectionsPerAddress(int count) { m_maxPerAddress = count; }
    // How long accepting pauses when no descriptor is left.
    void setAcceptPause(int milliseconds) { m_acceptPauseMs = milliseconds; }
    // The cap in force while started.
    int maxConnections() const { return m_limits.maxConnections; }
    qint64 bodyBytesHeld() const { return m_limits.bodyBytesHeld.load(); }
    int connectionCount() const { return m_limits.connections.load(); }

  protected:
    virtual void processGetRequest(evhttp_request* req) = 0;
    virtual void processPutRequest(evhttp_request* req) = 0;
    virtual void processPostRequest(evhttp_request* req) = 0;
    virtual void processDeleteRequest(evhttp_request* req) = 0;
    virtual void processUnknownRequest(evhttp_request* req) = 0;
    // What the derived server counts about a request: its class, asked before the handler
    // runs; then, once the handler has returned, that class, the status the request was
    // answered with (0: none) and the time since it was read whole.
    virtual int requestClass(evhttp_request* req) { return 0; }
    virtual void requestDone(int requestClass, int status,
                             std::chrono::steady_clock::duration elapsed) {}

    bool sendError(evhttp_request* req, int code, const QString& reason);
    // printf-style body; a null format sends an empty body. The status reason is always "OK".
    bool replyClient(evhttp_request* req, int code, const QString& reason, const char* format, ...);
    bool replyClient(evhttp_request* req, int code, const QString& reason, const QByteArray& body);
    // A byte extent of the file, through the caller's open file or else of the named one; length
    // -1 sends to the end of the file.
    bool replyClient(evhttp_request* req, int code, const QString& reason, QFile& file,
                     qint64 offset, qint64 length, bool stream);
    // The whole file, through the caller's own file object.
    bool replyClient(evhttp_request* req, int code, const QString& reason, QFile& file,
                     bool stream);
    bool addHeader(evhttp_request* req, const QString& name, const QString& value);
    bool getRequstHeader(evhttp_request* req, const QString& name, QString& value);
    qint64 getRequestBody(evhttp_request* req, QByteArray& body);
    bool getUrl(evhttp_request* req, QString& url);
    bool getDecodedUrl(evhttp_request* req, QString& url);
    // Runs long work of the running handler without the request lock, so that other requests
    // are served meanwhile; `work` must not touch the request. Takes the lock again after.
    void withoutRequestLock(evhttp_request* req, const std::function<void()>& work);
    // The client's address and port; false when the connection is gone.
    bool getClientAddress(evhttp_request* req, QString& address, quint16& port);

  private:
    struct FileSend;
    struct RequestContext;

    bool init();
    bool startServer();
    // One loop accepting on the listening socket, its listener still disabled; null on failure.
    std::unique_ptr<EventLoop> openLoop(int listenFd);
    void disposeLoops();
    void processRequest(evhttp_request* req, EventLoop* loop,
                        std::chrono::steady_clock::time_point arrived);
    void dispatch(evhttp_request* req);
    // The context of the request whose handler is running; null for any other request.
    RequestContext* contextOf(evhttp_request* req);
    bool sendFileExtent(evhttp_request* req, int code, const QString& reason, QFile& file,
                        qint64 offset, qint64 length, bool stream, bool wholeFile);
    // Runs libevent work on the request's loop thread (directly once the loop has ended, or
    // without a context).
    static void onLoop(RequestContext* context, const std::function<void()>& work);
    // On the loop thread: the one close listener of the request's connection (null clears it).
    // The connection table of the request's loop; null without a context.
    static ClientConnections* clientsOf(RequestContext* context);
    static void watchClose(RequestContext* context, evhttp_connection* evcon,
                           void (*listener)(evhttp_connection*, void*), void* arg);
    // The request has gone back to evhttp (replied to with status, or freed): it is not
    // touched any more.
    static void handBack(RequestContext* context, int status = 0);

    static void genericCallback(evhttp_request* req, void* arg);
    static void testCallback(evhttp_request* req, void* arg);

    int m_threadCount = 5;
    int m_backlog = 10240;
    QString m_ip = QStringLiteral("127.0.0.1");
    quint16 m_port = 0;
    bool m_running = false;
    // The listening socket and the loops while started; changed only by start() and stop().
    std::unique_ptr<EventLoops> m_loops;
    // Held while a request handler runs: the handlers of one server run one at a time.
    std::mutex m_requestLock;
    // Guards m_contexts: the context of each request whose handler is running, by request.
    std::mutex m_contextsMutex;
    std::map<evhttp_request*, RequestContext*> m_contexts;
    std::atomic<bool> m_stopping{false};
    int m_connectionTimeout = kConnectionTimeoutSeconds;
    std::shared_ptr<ssl_ctx_st> m_tls;  // set: every loop reads its connections through TLS
    qint64 m_bodyBudget = kDefaultBodyBudget;
    int m_stallSeconds = kDefaultStallSeconds;
    int m_maxConnections = 0;
    int m_maxPerAddress = 0;
    int m_acceptPauseMs = 1000;
    // Shared by the loops: the settings above as of the last start, and the counters.
    ServerLimits m_limits;
};
