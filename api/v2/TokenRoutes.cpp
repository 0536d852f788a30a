#include "api/v2/TokenRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include "api/auth/AuditLog.h"
#include "api/auth/Secrets.h"
#include "api/v2/JsonBody.h"
#include "db/Tab_ApiToken.h"

namespace {
constexpr int kDefaultDays = 90;
constexpr int kLongestDays = 3650;

QString isoTime(qint64 seconds) {
    return seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds).toString(Qt::ISODate) : QString();
}

QJsonObject describe(const struApiToken& token) {
    return QJsonObject{{"id", token.id},
                       {"name", token.name},
                       {"role", token.role},
                       {"createdBy", token.createdBy},
                       {"createdAt", isoTime(token.createdAt)},
                       {"expiresAt", isoTime(token.expiresAt)},
                       {"lastUsedAt", isoTime(token.lastUsedAt)}};
}

ApiReply list(const ApiRequest&) {
    QList<struApiToken> tokens;
    if (!Tab_ApiToken().getAllTokens(tokens))
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法读取令牌"));
    QJsonArray items;
    for (const struApiToken& token : tokens) items.append(describe(token));
    return ApiReply::json(200, compactJson(QJsonObject{{"tokens", items}}));
}

ApiReply create(const ApiRequest& request) {
    static const QRegularExpression namePattern(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    QJsonObject body;
    Role role = Role::Public;
    if (!jsonObjectBody(request, body) ||
        !namePattern.match(body.value("name").toString()).hasMatch() ||
        !roleFromName(body.value("role").toString(), role))
        return ApiReply::error(400, QStringLiteral("bad_request"),
                               QStringLiteral("须给出名称（字母、数字或 _ . -）和角色"));
    const int days = body.value("expiresInDays").toInt(kDefaultDays);
    if (days < 1 || days > kLongestDays)
        return ApiReply::error(400, QStringLiteral("bad_request"),
                               QStringLiteral("有效天数须为 1 到 3650"));
    const QString secret = QStringLiteral("wft_") + Secrets::randomText(32);
    struApiToken token;
    token.name = body.value("name").toString();
    token.role = QString::fromLatin1(roleName(role));
    token.tokenHash = Secrets::hashOf(secret);
    token.createdBy = request.account;
    token.accountId = request.caller.accountId;
    token.createdAt = QDateTime::currentSecsSinceEpoch();
    token.expiresAt = token.createdAt + qint64(days) * 24 * 3600;
    if (!Tab_ApiToken().insertToken(token))
        return ApiReply::error(409, QStringLiteral("exists"), QStringLiteral("令牌名称已存在"));
    request.audit(QStringLiteral("token_create"),
                  QStringLiteral("%1（%2，%3 天）").arg(token.name, token.role).arg(days));
    QJsonObject created = describe(token);
    created.insert("token", secret);
    return ApiReply::json(201, compactJson(created));
}

ApiReply revoke(const ApiRequest& request) {
    bool ok = false;
    const qint64 id = request.params.value("id").toLongLong(&ok);
    Tab_ApiToken tokens;
    struApiToken token;
    if (!ok || !tokens.getTokenById(id, token) || !tokens.deleteToken(id))
        return ApiReply::error(404, QStringLiteral("not_found"), QStringLiteral("令牌不存在"));
    request.audit(QStringLiteral("token_revoke"), token.name);
    return ApiReply::noContent();
}
}  // namespace

ApiGroup tokenRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("tokens");
    group.schemas = R"J({"Token":{"type":"object",
        "required":["id","name","role","createdBy","createdAt","expiresAt","lastUsedAt"],
        "properties":{"id":{"type":"integer"},"name":{"type":"string"},
            "role":{"type":"string","enum":["viewer","operator","admin"]},
            "createdBy":{"type":"string"},"createdAt":{"type":"string"},
            "expiresAt":{"type":"string"},
            "lastUsedAt":{"type":"string","description":"empty when never used"},
            "token":{"type":"string","description":"the secret, in the creation answer only"}}}})J";
    const QByteArray error =
        R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}})J";
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/tokens"), Role::Admin, QStringLiteral("listTokens"),
         QStringLiteral("List the API tokens (without their secrets)"), list,
         R"J({"responses":{"200":{"description":"Tokens","content":{"application/json":{"schema":
             {"type":"object","required":["tokens"],"properties":{"tokens":{"type":"array",
              "items":{"$ref":"#/components/schemas/Token"}}}}}}}}})J"},
        {"POST", QStringLiteral("/KORVA/v2/tokens"), Role::Admin, QStringLiteral("createToken"),
         QStringLiteral("Create an API token; send it as Authorization: Bearer <token>"), create,
         R"J({"requestBody":{"required":true,"content":{"application/json":{
               "schema":{"type":"object","required":["name","role"],
                   "properties":{"name":{"type":"string"},
                       "role":{"type":"string","enum":["viewer","operator","admin"]},
                       "expiresInDays":{"type":"integer","minimum":1,"maximum":3650,"default":90}}},
               "example":{"name":"nightly-export","role":"viewer","expiresInDays":30}}}},
             "responses":{"201":{"description":"Created; the secret is shown only here","content":
                 {"application/json":{"schema":{"$ref":"#/components/schemas/Token"}}}},
                 "400":{"description":"Bad request","content":)J" +
             error + R"J(},"409":{"description":"The name exists","content":)J" + error + "}}}"},
        {"DELETE", QStringLiteral("/KORVA/v2/tokens/{id}"), Role::Admin,
         QStringLiteral("revokeToken"), QStringLiteral("Revoke an API token"), revoke,
         R"J({"parameters":[{"name":"id","in":"path","required":true,
               "schema":{"type":"integer","example":1}}],
             "responses":{"204":{"description":"Revoked"},
                 "404":{"description":"No such token","content":)J" +
             error + "}}}"},
    };
    return group;
}
