// The bridge from the management server to the "/KORVA/v2/" routes: the request becomes an
// ApiRequest, the route's ApiReply becomes the HTTP reply.
#include <QFile>
#include <QUrl>

#include "api/v2/ApiRoutes.h"
#include "http/ContentDisposition.h"
#include "http/MethodName.h"
#include "http/RequestTarget.h"
#include "web/AccessDoor.h"
#include "web/WebServer.h"

#include <event2/http.h>

namespace {
const QString kApiPrefix = QStringLiteral("/KORVA/v2/");

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 413:
            return "Payload Too Large";
        case 416:
            return "Range Not Satisfiable";
        case 422:
            return "Unprocessable Entity";
        case 429:
            return "Too Many Requests";
        case 503:
            return "Service Unavailable";
        default:
            return status >= 500 ? "Internal Server Error" : "OK";
    }
}
}  // namespace

bool WebServer::isApiRequest(evhttp_request* req) {
    QString raw;
    getUrl(req, raw);
    return raw.startsWith(kApiPrefix);
}

void WebServer::processApiRequest(evhttp_request* req) {
    QString raw;
    getUrl(req, raw);
    const int queryAt = raw.indexOf(QLatin1Char('?'));
    ApiRequest request;
    request.method = methodName(evhttp_request_get_command(req));
    request.path = QUrl::fromPercentEncoding(targetPath(raw).toUtf8());
    if (queryAt >= 0) {
        // Form encoding: a space may come as '+', a literal plus as %2B.
        QString query = raw.mid(queryAt + 1);
        query.replace(QLatin1Char('+'), QStringLiteral("%20"));
        request.query.setQuery(query);
    }
    getRequestBody(req, request.body);
    request.clientAddress = clientAddress(req);
    request.header = [req](const QByteArray& name) { return quietHeader(req, name.constData()); };
    request.outsideLock = [this, req](const std::function<void()>& work) {
        withoutRequestLock(req, work);
    };
    request.auth = &m_parts.auth;
    request.settings = &m_parts.settings;
    request.rolloutNotices = m_parts.rolloutNotices;

    // Who calls; with logins off everyone is an admin, as before accounts existed.
    request.caller = identify(req);
    request.authenticated = request.caller.known();
    request.role = request.caller.role;
    request.account = request.caller.auditName();
    const DoorVerdict csrf =
        AccessDoor::checkCsrf(request.caller, request.method, quietHeader(req, "X-CSRF-Token"));
    sendApiReply(req, csrf.admitted() ? apiRouter().dispatch(request)
                                      : ApiReply::error(csrf.status, csrf.code, csrf.message));
}

void WebServer::sendApiReply(evhttp_request* req, const ApiReply& reply) {
    for (const auto& header : reply.headers)
        addHeader(req, QString::fromLatin1(header.first), QString::fromUtf8(header.second));
    if (!reply.filePath.isEmpty()) return sendApiFile(req, reply);
    addHeader(req, QStringLiteral("Content-Type"), QString::fromLatin1(reply.contentType));
    addHeader(req, QStringLiteral("Cache-Control"), QStringLiteral("no-store"));
    replyClient(req, reply.status, QString::fromLatin1(reasonPhrase(reply.status)), reply.body);
}

void WebServer::sendApiFile(evhttp_request* req, const ApiReply& reply) {
    addHeader(req, QStringLiteral("Cache-Control"), QStringLiteral("no-store"));
    const QString disposition =
        reply.downloadName.isEmpty()
            ? QString()
            : QString::fromLatin1(attachmentDisposition(reply.downloadName));
    const bool sent = sendFileWithRange(req, reply.filePath, QString::fromLatin1(reply.contentType),
                                        disposition, RangeReply::Standard, reply.fileDigest);
    // The reply holds its own descriptor of the file: removing the name now loses nothing.
    if (reply.removeAfterSending) QFile::remove(reply.filePath);
    if (sent) return;
    const ApiReply gone =
        ApiReply::error(404, QStringLiteral("not_found"), QStringLiteral("文件不存在"));
    addHeader(req, QStringLiteral("Content-Type"), QString::fromLatin1(gone.contentType));
    replyClient(req, gone.status, QString::fromLatin1(reasonPhrase(gone.status)), gone.body);
}
