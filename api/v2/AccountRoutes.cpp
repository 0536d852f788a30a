#include "api/v2/AccountRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include "api/auth/AuditLog.h"
#include "api/auth/PasswordHasher.h"
#include "api/v2/JsonBody.h"
#include "db/Tab_Account.h"
#include "db/Tab_ApiToken.h"
#include "db/Tab_Session.h"

namespace {
const QString kAdmin = QStringLiteral("admin");

QJsonObject describe(const struAccount& account) {
    return QJsonObject{
        {"name", account.name},
        {"role", account.role},
        {"mustChangePassword", account.mustChangePassword},
        {"createdAt", QDateTime::fromSecsSinceEpoch(account.createdAt).toString(Qt::ISODate)}};
}

bool validName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]{1,32}$"));
    return pattern.match(name).hasMatch();
}

ApiReply badRequest(const QString& message) {
    return ApiReply::error(400, QStringLiteral("bad_request"), message);
}

ApiReply weakPassword() {
    return ApiReply::error(422, QStringLiteral("weak_password"),
                           QStringLiteral("密码须为 8 到 128 个字符"));
}

ApiReply notFound() {
    return ApiReply::error(404, QStringLiteral("not_found"), QStringLiteral("账户不存在"));
}

ApiReply lastAdmin() {
    return ApiReply::error(409, QStringLiteral("last_admin"),
                           QStringLiteral("至少需要保留一个管理员账户"));
}

ApiReply list(const ApiRequest&) {
    QList<struAccount> accounts;
    if (!Tab_Account().getAllAccounts(accounts))
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法读取账户"));
    QJsonArray items;
    for (const struAccount& account : accounts) items.append(describe(account));
    return ApiReply::json(200, compactJson(QJsonObject{{"accounts", items}}));
}

ApiReply create(const ApiRequest& request) {
    QJsonObject body;
    Role role = Role::Public;
    if (!jsonObjectBody(request, body)) return badRequest(QStringLiteral("请求体不是 JSON 对象"));
    struAccount account;
    account.name = body.value("name").toString();
    account.role = body.value("role").toString();
    if (!validName(account.name))
        return badRequest(QStringLiteral("账户名须为 1 到 32 个字母、数字或 _ . -"));
    if (!roleFromName(account.role, role)) return badRequest(QStringLiteral("角色无效"));
    const QString password = body.value("password").toString();
    if (!PasswordHasher::acceptable(password)) return weakPassword();
    // Whoever hands out a password knows it: the owner sets a new one at the first login.
    account.mustChangePassword = true;
    account.createdAt = QDateTime::currentSecsSinceEpoch();
    if (!PasswordHasher::hash(password, account.passwordHash))
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法保存密码"));
    Tab_Account accounts;
    if (accounts.nameTaken(account.name) || !accounts.insertAccount(account))
        return ApiReply::error(409, QStringLiteral("exists"), QStringLiteral("账户已存在"));
    request.audit(QStringLiteral("account_create"),
                  QStringLiteral("%1（%2）").arg(account.name, account.role));
    return ApiReply::json(201, compactJson(describe(account)));
}

ApiReply update(const ApiRequest& request) {
    QJsonObject body;
    if (!jsonObjectBody(request, body)) return badRequest(QStringLiteral("请求体不是 JSON 对象"));
    Tab_Account accounts;
    struAccount account;
    if (!accounts.getAccountByName(request.params.value("name"), account)) return notFound();
    QStringList changes;
    if (body.contains("role")) {
        const QString role = body.value("role").toString();
        Role parsed = Role::Public;
        if (!roleFromName(role, parsed)) return badRequest(QStringLiteral("角色无效"));
        if (account.role == kAdmin && role != kAdmin && accounts.countAccounts(kAdmin) <= 1)
            return lastAdmin();
        if (role != account.role) {
            if (!accounts.updateRole(account.id, role))
                return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法保存"));
            changes << QStringLiteral("角色 %1 → %2").arg(account.role, role);
            account.role = role;
        }
    }
    if (body.contains("password")) {
        const QString password = body.value("password").toString();
        if (!PasswordHasher::acceptable(password)) return weakPassword();
        QString encoded;
        if (!PasswordHasher::hash(password, encoded) ||
            !accounts.updatePassword(account.id, encoded, true))
            return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法保存密码"));
        Tab_Session().deleteAccountSessions(account.id);
        account.mustChangePassword = true;
        changes << QStringLiteral("重置密码");
    }
    if (!changes.isEmpty())
        request.audit(QStringLiteral("account_update"),
                      account.name + QStringLiteral("：") + changes.join(QStringLiteral("，")));
    return ApiReply::json(200, compactJson(describe(account)));
}

ApiReply removeAccount(const ApiRequest& request) {
    Tab_Account accounts;
    struAccount account;
    if (!accounts.getAccountByName(request.params.value("name"), account)) return notFound();
    if (request.caller.kind == Caller::Kind::Session && account.id == request.caller.accountId)
        return ApiReply::error(409, QStringLiteral("own_account"),
                               QStringLiteral("不能删除自己的账户"));
    if (account.role == kAdmin && accounts.countAccounts(kAdmin) <= 1) return lastAdmin();
    if (!accounts.deleteAccount(account.id))
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法删除"));
    Tab_Session().deleteAccountSessions(account.id);
    Tab_ApiToken().deleteAccountTokens(account.id);
    request.audit(QStringLiteral("account_delete"), account.name);
    return ApiReply::noContent();
}
}  // namespace

ApiGroup accountRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("accounts");
    group.schemas = R"J({"Account":{"type":"object",
        "required":["name","role","mustChangePassword","createdAt"],
        "properties":{"name":{"type":"string"},
            "role":{"type":"string","enum":["viewer","operator","admin"]},
            "mustChangePassword":{"type":"boolean"},
            "createdAt":{"type":"string","description":"ISO 8601"}}}})J";
    const QByteArray error =
        R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}})J";
    const QByteArray account =
        R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Account"}}})J";
    const QByteArray nameParameter =
        R"J("parameters":[{"name":"name","in":"path","required":true,
            "schema":{"type":"string","example":"operator1"}}],)J";
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/accounts"), Role::Admin, QStringLiteral("listAccounts"),
         QStringLiteral("List the accounts"), list,
         R"J({"responses":{"200":{"description":"Accounts","content":{"application/json":{"schema":
             {"type":"object","required":["accounts"],"properties":{"accounts":{"type":"array",
              "items":{"$ref":"#/components/schemas/Account"}}}}}}}}})J"},
        {"POST", QStringLiteral("/KORVA/v2/accounts"), Role::Admin, QStringLiteral("createAccount"),
         QStringLiteral("Create an account; its owner sets a new password at the first login"),
         create,
         R"J({"requestBody":{"required":true,"content":{"application/json":{
               "schema":{"type":"object","required":["name","role","password"],
                   "properties":{"name":{"type":"string","pattern":"^[A-Za-z0-9_.-]{1,32}$"},
                       "role":{"type":"string","enum":["viewer","operator","admin"]},
                       "password":{"type":"string","minLength":8,"maxLength":128}}},
               "example":{"name":"operator1","role":"operator","password":"first-passphrase"}}}},
             "responses":{"201":{"description":"Created","content":)J" +
             account + R"J(},"400":{"description":"Bad request","content":)J" + error +
             R"J(},"409":{"description":"The name exists","content":)J" + error +
             R"J(},"422":{"description":"Password not acceptable","content":)J" + error + "}}}"},
        {"PUT", QStringLiteral("/KORVA/v2/accounts/{name}"), Role::Admin,
         QStringLiteral("updateAccount"),
         QStringLiteral("Change an account's role or reset its password"), update,
         "{" + nameParameter + R"J("requestBody":{"required":true,"content":{"application/json":{
               "schema":{"type":"object","properties":{
                   "role":{"type":"string","enum":["viewer","operator","admin"]},
                   "password":{"type":"string","minLength":8,"maxLength":128}}},
               "example":{"role":"viewer"}}}},
             "responses":{"200":{"description":"Changed","content":)J" +
             account + R"J(},"400":{"description":"Bad request","content":)J" + error +
             R"J(},"404":{"description":"No such account","content":)J" + error +
             R"J(},"409":{"description":"It is the last admin","content":)J" + error +
             R"J(},"422":{"description":"Password not acceptable","content":)J" + error + "}}}"},
        {"DELETE", QStringLiteral("/KORVA/v2/accounts/{name}"), Role::Admin,
         QStringLiteral("deleteAccount"),
         QStringLiteral("Delete an account, end its sessions and revoke its API tokens"),
         removeAccount,
         "{" + nameParameter + R"J("responses":{"204":{"description":"Deleted"},
             "404":{"description":"No such account","content":)J" +
             error +
             R"J(},"409":{"description":"The caller's own account, or the last admin","content":)J" +
             error + "}}}"},
    };
    return group;
}
