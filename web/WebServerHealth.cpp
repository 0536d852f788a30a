// "/ready": whether a balancer may send this instance work. "/test" only says the process
// answers; this also asks the database, which every port needs to serve correctly.
#include "api/auth/AuthService.h"
#include "db/DbReadiness.h"
#include "web/WebServer.h"

void WebServer::sendReadiness(evhttp_request* req) {
    const DbReadiness state = DbReadiness::check();
    addHeader(req, QStringLiteral("Content-Type"), QStringLiteral("text/plain; charset=utf-8"));
    addHeader(req, QStringLiteral("Cache-Control"), QStringLiteral("no-store"));
    if (state.ready) {
        replyClient(req, 200, QStringLiteral("OK"), QByteArrayLiteral("ready\n"));
        return;
    }
    addHeader(req, QStringLiteral("Retry-After"), QString::number(AuthService::kAwayRetrySeconds));
    replyClient(req, 503, QStringLiteral("Service Unavailable"), state.reason.toUtf8() + '\n');
}
