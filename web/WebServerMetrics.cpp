// What the management server counts of its own requests, and "/metrics", where a scraper reads
// everything the service counts.
#include <event2/http.h>

#include <cstdlib>

#include <QUrl>

#include "core/DbCallTimer.h"
#include "core/MetricsRegistry.h"
#include "device/TerminalMetrics.h"
#include "device/UpgradeMetrics.h"
#include "download/DownloadMetrics.h"
#include "http/MethodName.h"
#include "http/RequestTarget.h"
#include "web/HttpMetrics.h"
#include "web/LegacyRoutes.h"
#include "web/StalledUpgrades.h"
#include "web/WebServer.h"

namespace {

// Every family is declared from the first scrape on, also those whose events have not
// happened yet.
void declareMetrics() {
    static const bool declared = [] {
        TerminalMetrics::instance();
        UpgradeMetrics::instance();
        DownloadMetrics::instance();
        HttpMetrics::instance();
        DbCallTimer::declare();
        MetricsRegistry::instance().addCollector(&StalledUpgrades::collect);
        return true;
    }();
    Q_UNUSED(declared);
}

}  // namespace

int WebServer::requestClass(evhttp_request* req) {
    HttpMetrics& metrics = HttpMetrics::instance();
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
    HttpMetrics::instance().record(requestClass, status, elapsed);
}

void WebServer::sendMetrics(evhttp_request* req) {
    declareMetrics();
    const std::string text = MetricsRegistry::instance().exposition();
    addHeader(req, QStringLiteral("Content-Type"),
              QStringLiteral("text/plain; version=0.0.4; charset=utf-8"));
    addHeader(req, QStringLiteral("Cache-Control"), QStringLiteral("no-store"));
    replyClient(req, 200, QStringLiteral("OK"),
                QByteArray(text.data(), static_cast<int>(text.size())));
}
