#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "api/auth/Caller.h"
#include "api/legacy/HttpBrowserAPI.h"
#include "api/v2/ApiTypes.h"
#include "core/ProxyTrust.h"
#include "http/HttpServer.h"

class AuthService;
class HttpMetrics;
class LocalParaMgt;
struct LegacyRoute;
class MetricsRegistry;
class ScrapeHook;
class RolloutNotices;

// What the management server works with, built by its owner; every part outlives the server.
struct WebServerParts {
    MetricsRegistry& metrics;    // everything the service counts, read by "/metrics"
    HttpMetrics& requests;       // this server's requests, counted
    AuthService& auth;           // who calls
    HttpBrowserAPI& browserApi;  // the work behind the routes under "/KORVA/"
    LocalParaMgt& settings;      // config.ini, as the routes under "/KORVA/v2/" read it
    RolloutNotices* rolloutNotices = nullptr;  // told of operators' rollout changes
};

// The management web server: static pages under the web root and the JSON API under
// "/KORVA/", routed by substrings of the decoded URL; package and export downloads with ranges.
class WebServer : public HttpServer {
    Q_OBJECT
  public:
    explicit WebServer(const WebServerParts& parts, QObject* parent = nullptr);
    ~WebServer() override;

    void setWebRoot(const QString& root) { m_webRoot = root; }
    void setDefaultPage(const QString& page) { m_defaultPage = page; }
    // The proxies whose X-Forwarded-For names the client for the audit trail and the login
    // throttle; before start(). Without it every client is its peer.
    void setForwardingProxies(const ProxyTrust& proxies) { m_forwardingProxies = proxies; }

  protected:
    void processGetRequest(evhttp_request* req) override;
    void processPutRequest(evhttp_request* req) override;
    void processPostRequest(evhttp_request* req) override;
    void processDeleteRequest(evhttp_request* req) override;
    void processUnknownRequest(evhttp_request* req) override;
    // The route class and the outcome of each request, for the metrics (WebServerMetrics.cpp).
    int requestClass(evhttp_request* req) override;
    void requestDone(int requestClass, int status,
                     std::chrono::steady_clock::duration elapsed) override;

  private:
    // "/metrics": everything the service counts, in the text format scrapers read.
    void sendMetrics(evhttp_request* req);
    // "/ready" (WebServerHealth.cpp): 200 when the database can serve, else 503 with the reason.
    void sendReadiness(evhttp_request* req);

    // The "/KORVA/v2/" routes (WebServerApi.cpp).
    bool isApiRequest(evhttp_request* req);
    void processApiRequest(evhttp_request* req);
    void sendApiReply(evhttp_request* req, const ApiReply& reply);
    void sendApiFile(evhttp_request* req, const ApiReply& reply);

    // The door (WebServerDoor.cpp): who calls, and whether that caller may use the route. False
    // with the refusal already sent.
    bool admit(evhttp_request* req, const QByteArray& method, const LegacyRoute& route,
               Caller& caller);
    Caller identify(evhttp_request* req);
    // A request header read without writing it to the log: some carry secrets.
    static QString quietHeader(evhttp_request* req, const char* name);
    QString clientAddress(evhttp_request* req);

    // A request no route answers: 405 with Allow when another method takes its path, 404
    // otherwise.
    void answerUnrouted(evhttp_request* req, const QString& url);
    // DELETE outside "/KORVA/v2/", CONNECT: the door, then 404 or 405.
    void processUnroutedMethod(evhttp_request* req, const QByteArray& method);
    void processStaticRequest(evhttp_request* req, const QString& url);
    // The file under the web root, or false with the error already sent.
    bool findWebFile(evhttp_request* req, const QString& path, bool recursive, QString& found);
    void sendIndexPage(evhttp_request* req, const QString& page, bool recursive);
    // A file under the web root, with its Content-Type when not empty.
    void sendStaticFile(evhttp_request* req, const QString& path, bool recursive,
                        const QString& contentType);
    void processDeviceList(evhttp_request* req, const QString& url, Role reader);
    // A list route whose failure is 501: the package list or the progress list.
    void processJsonList(evhttp_request* req, bool (HttpBrowserAPI::*list)(QByteArray&));
    // A file per request, removed once the reply holds it.
    void processExport(evhttp_request* req, const QString& url, Role reader);
    void getDownLoadPackage(evhttp_request* req, const QString& url);
    // A file sent as an attachment; 204 when it does not exist.
    void sendFile(evhttp_request* req, const QString& path, const QString& contentType,
                  const QString& digest = QString());

    // The two kinds of file reply that honour one byte range.
    enum class RangeReply {
        Page,      // Content-Range on a 206 only; a Range it cannot accept sends whatever extent
                   // the parser left (so "bytes=<size>-" sends nothing, with 200)
        Download,  // the range handling is logged; a Range it cannot accept sends the whole
                   // file; Content-Range on a 200 too (the whole file)
        Standard,  // as HTTP has it: Accept-Ranges, Content-Range on a 206 only, 416 with
                   // "bytes */<size>" for a range past the end, the whole file for one ignored
    };
    // Answers with the file at `path`, or with the one byte range that the request's Range
    // header asks for (206 "Partial Content"); the reply's own headers come first, each left
    // out when empty. Downloads (all but pages) carry the validators, the entity tag made of
    // digest (the stored hex SHA-256) when given, and honour a Range only for the version an
    // If-Range names. False, with nothing sent, when the file does not exist.
    bool sendFileWithRange(evhttp_request* req, const QString& path, const QString& contentType,
                           const QString& disposition, RangeReply kind,
                           const QString& digest = QString());
    // Opens the file and adds its Last-Modified and ETag, and whether a Range is to be honoured;
    // false when it cannot be opened.
    bool applyValidators(evhttp_request* req, QFile& file, const QString& digest,
                         bool& rangeApplies);
    bool sendStandardRange(evhttp_request* req, QFile& file, const QString& contentType,
                           const QString& disposition, bool rangeApplies);
    // The reply's own headers (each left out when empty), Content-Range when asked for, and the
    // extent of the file: 206 when partial, 200 otherwise.
    void sendExtent(evhttp_request* req, QFile& file, const QString& contentType,
                    const QString& disposition, bool partial, int64_t offset, int64_t length,
                    bool withContentRange);
    void sendJson(evhttp_request* req, const QByteArray& json);
    void printRemote(evhttp_request* req, const char* label);

    QString m_webRoot = QStringLiteral("./Web");
    QString m_defaultPage = QStringLiteral("index.html");
    std::optional<ProxyTrust> m_forwardingProxies;

    const WebServerParts m_parts;
    std::unique_ptr<ScrapeHook> m_databaseGauge;  // whether the database answers, per scrape
};
