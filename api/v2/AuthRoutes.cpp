#include "api/v2/AuthRoutes.h"

#include <QJsonObject>

#include "api/auth/AuditLog.h"
#include "api/auth/AuthService.h"
#include "api/auth/InitialAdmin.h"
#include "api/v2/JsonBody.h"
#include "api/v2/RouteReplies.h"
#include "core/AppDir.h"

namespace {
QJsonObject describe(const Caller& caller) {
    return QJsonObject{{"account", caller.name},
                       {"role", QString::fromLatin1(roleName(caller.role))},
                       {"csrfToken", caller.csrfToken},
                       {"passwordChangeRequired", caller.mustChangePassword},
                       {"loginRequired", caller.kind != Caller::Kind::Open}};
}

ApiReply badRequest(const QString& message) {
    return ApiReply::error(400, QStringLiteral("bad_request"), message);
}

ApiReply tooManyAttempts(int retryAfter) {
    ApiReply reply =
        ApiReply::error(429, QStringLiteral("too_many_attempts"),
                        QStringLiteral("密码错误次数过多，请 %1 秒后再试").arg(retryAfter));
    reply.headers.append({"Retry-After", QByteArray::number(retryAfter)});
    return reply;
}

ApiReply busy(int retryAfter) {
    ApiReply reply = ApiReply::error(503, QStringLiteral("busy"),
                                     QStringLiteral("服务器繁忙，请 %1 秒后再试").arg(retryAfter));
    reply.headers.append({"Retry-After", QByteArray::number(retryAfter)});
    return reply;
}

ApiReply login(const ApiRequest& request) {
    QJsonObject body;
    if (!jsonObjectBody(request, body)) return badRequest(QStringLiteral("请求体不是 JSON 对象"));
    const QString name = body.value("name").toString().trimmed();
    const QString password = body.value("password").toString();
    if (name.isEmpty() || name.size() > 64 || password.isEmpty())
        return badRequest(QStringLiteral("请填写账户和密码"));

    AuthService::NewSession session;
    int retryAfter = 0;
    switch (request.auth->login(name, password, request.clientAddress, request.outsideLock, session,
                                retryAfter)) {
        case AuthService::LoginResult::Ok: {
            AuditLog::recordAs(name, request.clientAddress, QStringLiteral("POST ") + request.path,
                               QStringLiteral("login"), QStringLiteral("登录成功"));
            ApiReply reply = ApiReply::json(200, compactJson(describe(session.caller)));
            reply.headers.append({"Set-Cookie", request.auth->sessionCookie(session.cookieValue)});
            return reply;
        }
        case AuthService::LoginResult::Refused:
            AuditLog::recordAs(name, request.clientAddress, QStringLiteral("POST ") + request.path,
                               QStringLiteral("login_failed"), QStringLiteral("账户或密码错误"));
            return ApiReply::error(401, QStringLiteral("login_failed"),
                                   QStringLiteral("账户或密码错误"));
        case AuthService::LoginResult::LockedOut:
            return tooManyAttempts(retryAfter);
        case AuthService::LoginResult::Busy:
            return busy(retryAfter);
        case AuthService::LoginResult::Unavailable:
            return RouteReplies::databaseAway(retryAfter);
        case AuthService::LoginResult::Failed:
            break;
    }
    return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法建立会话"));
}

ApiReply logout(const ApiRequest& request) {
    request.auth->logout(request.headerValue("Cookie"));
    if (request.caller.kind == Caller::Kind::Session)
        request.audit(QStringLiteral("logout"), QStringLiteral("退出登录"));
    ApiReply reply = ApiReply::noContent();
    reply.headers.append({"Set-Cookie", request.auth->expiredCookie()});
    return reply;
}

ApiReply me(const ApiRequest& request) {
    return ApiReply::json(200, compactJson(describe(request.caller)));
}

ApiReply changePassword(const ApiRequest& request) {
    QJsonObject body;
    if (!jsonObjectBody(request, body)) return badRequest(QStringLiteral("请求体不是 JSON 对象"));
    if (request.caller.kind != Caller::Kind::Session)
        return ApiReply::error(400, QStringLiteral("session_required"),
                               QStringLiteral("只有登录会话可以修改密码"));
    int retryAfter = 0;
    switch (request.auth->changePassword(request.caller, body.value("currentPassword").toString(),
                                         body.value("newPassword").toString(),
                                         request.clientAddress, request.outsideLock, retryAfter)) {
        case AuthService::ChangeResult::Ok: {
            InitialAdmin::passwordChanged(applicationDirectory(), request.caller.name);
            request.audit(QStringLiteral("password_change"), QStringLiteral("修改了自己的密码"));
            Caller changed = request.caller;
            changed.mustChangePassword = false;
            return ApiReply::json(200, compactJson(describe(changed)));
        }
        case AuthService::ChangeResult::WrongPassword:
            return ApiReply::error(400, QStringLiteral("wrong_password"),
                                   QStringLiteral("当前密码不正确"));
        case AuthService::ChangeResult::LockedOut:
            return tooManyAttempts(retryAfter);
        case AuthService::ChangeResult::Busy:
            return busy(retryAfter);
        case AuthService::ChangeResult::Unavailable:
            return RouteReplies::databaseAway(retryAfter);
        case AuthService::ChangeResult::Unacceptable:
            return ApiReply::error(422, QStringLiteral("weak_password"),
                                   QStringLiteral("新密码须为 8 到 128 个字符，且不同于当前密码"));
        case AuthService::ChangeResult::Failed:
            break;
    }
    return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法修改密码"));
}

const char* const kErrorContent =
    R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}})J";
}  // namespace

ApiGroup authRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("auth");
    group.schemas = R"J({"Me":{"type":"object",
        "required":["account","role","csrfToken","passwordChangeRequired","loginRequired"],
        "properties":{"account":{"type":"string"},
            "role":{"type":"string","enum":["viewer","operator","admin"]},
            "csrfToken":{"type":"string","description":"send as X-CSRF-Token with every change"},
            "passwordChangeRequired":{"type":"boolean"},
            "loginRequired":{"type":"boolean"}}}})J";
    const QByteArray error(kErrorContent);
    const QByteArray meContent =
        R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Me"}}})J";
    group.routes = {
        {"POST", QStringLiteral("/KORVA/v2/auth/login"), Role::Public, QStringLiteral("logIn"),
         QStringLiteral("Log in: sets the session cookie"), login,
         R"J({"requestBody":{"required":true,"content":{"application/json":{
               "schema":{"type":"object","required":["name","password"],
                   "properties":{"name":{"type":"string"},"password":{"type":"string"}}},
               "example":{"name":"admin","password":"not-the-password"}}}},
             "responses":{"200":{"description":"Logged in","content":)J" +
             meContent + R"J(},"400":{"description":"Bad request","content":)J" + error +
             R"J(},"401":{"description":"Wrong name or password","content":)J" + error +
             R"J(},"429":{"description":"Locked out for a while (Retry-After)","content":)J" +
             error +
             R"J(},"503":{"description":"Too many logins at once, or the database is away (Retry-After)","content":)J" +
             error + "}}}"},
        {"POST", QStringLiteral("/KORVA/v2/auth/logout"), Role::Public, QStringLiteral("logOut"),
         QStringLiteral("Log out: ends the session"), logout,
         R"J({"responses":{"204":{"description":"Session ended"}}})J"},
        {"GET", QStringLiteral("/KORVA/v2/auth/me"), Role::Viewer, QStringLiteral("getSession"),
         QStringLiteral("Who is calling, with the CSRF token of the session"), me,
         R"J({"responses":{"200":{"description":"The caller","content":)J" + meContent + "}}}",
         true},
        {"POST", QStringLiteral("/KORVA/v2/auth/password"), Role::Viewer,
         QStringLiteral("changePassword"), QStringLiteral("Change the caller's own password"),
         changePassword,
         R"J({"requestBody":{"required":true,"content":{"application/json":{
               "schema":{"type":"object","required":["currentPassword","newPassword"],
                   "properties":{"currentPassword":{"type":"string"},
                       "newPassword":{"type":"string","minLength":8,"maxLength":128}}},
               "example":{"currentPassword":"not-the-password","newPassword":"a-new-passphrase"}}}},
             "responses":{"200":{"description":"Changed","content":)J" +
             meContent +
             R"J(},"400":{"description":"Wrong current password, or not a session","content":)J" +
             error + R"J(},"422":{"description":"New password not acceptable","content":)J" +
             error +
             R"J(},"429":{"description":"Too many wrong passwords (Retry-After)","content":)J" +
             error +
             R"J(},"503":{"description":"Too many password checks at once (Retry-After)",
                 "content":)J" +
             error + "}}}",
         true},
    };
    return group;
}
