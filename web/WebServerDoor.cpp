// The door of the management server: every request to a route that needs a role passes here.
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <event2/util.h>

#include "api/auth/AuthService.h"
#include "web/AccessDoor.h"
#include "web/ForwardedClient.h"
#include "web/LegacyRoutes.h"
#include "web/WebServer.h"

QString WebServer::quietHeader(evhttp_request* req, const char* name) {
    const char* value = evhttp_find_header(evhttp_request_get_input_headers(req), name);
    return value ? QString::fromUtf8(value) : QString();
}

QString WebServer::clientAddress(evhttp_request* req) {
    QString address;
    quint16 port = 0;
    getClientAddress(req, address, port);
    if (!m_forwardingProxies) return address;
    QByteArrayList forwardedFor;
    const evkeyvalq* headers = evhttp_request_get_input_headers(req);
    for (const evkeyval* header = headers->tqh_first; header; header = header->next.tqe_next)
        if (evutil_ascii_strcasecmp(header->key, "X-Forwarded-For") == 0)
            forwardedFor << QByteArray(header->value);
    return forwardedClient(address, forwardedFor, *m_forwardingProxies);
}

Caller WebServer::identify(evhttp_request* req) {
    return m_parts.auth.identify(quietHeader(req, "Cookie"), quietHeader(req, "Authorization"));
}

bool WebServer::admit(evhttp_request* req, const QByteArray& method, const LegacyRoute& route,
                      Caller& caller) {
    if (route.role == Role::Public) return true;
    caller = identify(req);
    const DoorVerdict verdict = AccessDoor::check(
        caller, route.role, method, quietHeader(req, "X-CSRF-Token"), route.servedFromMemory);
    if (verdict.admitted()) return true;
    ApiReply refusal = ApiReply::error(verdict.status, verdict.code, verdict.message);
    if (verdict.retryAfterSeconds > 0)
        refusal.headers.append({"Retry-After", QByteArray::number(verdict.retryAfterSeconds)});
    sendApiReply(req, refusal);
    return false;
}
