// What the management server counts of its own requests, and "/metrics", where a scraper reads
// everything the service counts.
#include <event2/http.h>

#include <cstdlib>

#include <QUrl>

#include "core/MetricsRegistry.h"
#include "http/MethodName.h"
#include "http/RequestTarget.h"
#include "web/HttpMetrics.h"
#include "web/LegacyRoutes.h"
#include "web/WebServer.h"

int WebServer::requestClass(evhttp_request* req) {
    HttpMetrics& metrics = m_parts.requests;
    const char* target = evhttp_request_get_uri(req);
    const QByteArray raw(target ? target : "");
    // As the v2 bridge takes it apart: the path before the query, percent-decoded.
    if (raw.startsWith("/KORVA/v2/"))
        return metrics.apiClass(QUrl::fromPercentEncoding(targetPath(raw)));
    char* decoded = evhttp_decode_uri(raw.constData());
    const QString url = QString::fromUtf8(decoded ? decoded : "");
    std::free(decoded);
    return metrics.legacyClass(legacyRoute(methodName(evhttp_request_get_command(req)), url).id);
}

void WebServer::requestDone(int requestClass, int status,
                            std::chrono::steady_clock::duration elapsed) {
    m_parts.requests.record(requestClass, status, elapsed);
}

void WebServer::sendMetrics(evhttp_request* req) {
    const std::string text = m_parts.metrics.exposition();
    addHeader(req, QStringLiteral("Content-Type"),
              QStringLiteral("text/plain; version=0.0.4; charset=utf-8"));
    addHeader(req, QStringLiteral("Cache-Control"), QStringLiteral("no-store"));
    replyClient(req, 200, QStringLiteral("OK"),
                QByteArray(text.data(), static_cast<int>(text.size())));
}
