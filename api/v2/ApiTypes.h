#pragma once

#include <functional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

#include "api/auth/Caller.h"
#include "api/auth/Role.h"

#include "core/struLocalParam.h"

class AuthService;
class LocalParaMgt;
class RolloutNotices;

// One request to a "/KORVA/v2/" route, independent of the HTTP server that carried it.
struct ApiRequest {
    QByteArray method;  // "GET", "POST", ...
    QString path;       // decoded, without the query
    QUrlQuery query;    // decoded values
    QByteArray body;
    QString clientAddress;
    std::function<QString(const QByteArray& name)> header;  // "" when absent
    QHash<QString, QString> params;                         // from the route's {name} parts
    // Runs slow work (that touches neither the request nor anything shared) without the
    // server's request lock, so that other requests are served meanwhile; unset, in place.
    std::function<void(const std::function<void()>&)> outsideLock;
    // The logins and sessions, and config.ini, of the server that carried the request.
    AuthService* auth = nullptr;
    LocalParaMgt* settings = nullptr;
    RolloutNotices* rolloutNotices = nullptr;  // told what an operator's change did to a plan

    // Who calls, filled in at the door before the route runs. With logins switched off every
    // caller is an admin without an account.
    Role role = Role::Public;
    bool authenticated = false;
    QString account;  // as the audit trail names the caller
    Caller caller;    // the whole of what the door found

    // A query value fully decoded ("" when absent).
    QString queryValue(const QString& name) const {
        return query.queryItemValue(name, QUrl::FullyDecoded);
    }
    void withoutLock(const std::function<void()>& work) const {
        if (outsideLock)
            outsideLock(work);
        else
            work();
    }
    // Records a change this request made in the audit trail, under its caller, address and route.
    void audit(const QString& action, const QString& summary) const;
    QString headerValue(const QByteArray& name) const { return header ? header(name) : QString(); }
    // The parameters as config.ini has them now.
    struLocalParam parameters() const;
};

// The answer of a route: a status and a JSON body, or a file sent with byte ranges.
struct ApiReply {
    int status = 200;
    QByteArray contentType = "application/json; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    QString filePath;                 // when set, the file is the body (Range honoured)
    QString downloadName;             // Content-Disposition file name of a file reply
    QString fileDigest;               // hex SHA-256 of the file's content, for its entity tag
    bool removeAfterSending = false;  // a temporary file, gone once the reply has it

    static ApiReply json(int status, const QByteArray& document);
    // 204: done, nothing to say.
    static ApiReply noContent();
    // The one error shape of the v2 routes: {"error":{"code":..,"message":..}}.
    static ApiReply error(int status, const QString& code, const QString& message);
    static ApiReply file(const QString& path, const QByteArray& contentType,
                         const QString& downloadName);
};

using ApiHandler = std::function<ApiReply(const ApiRequest&)>;
