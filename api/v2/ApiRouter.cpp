#include "api/v2/ApiRouter.h"

#include <QStringList>

#include "api/auth/AuthService.h"
#include "api/v2/RouteReplies.h"

ApiRouter::ApiRouter(std::vector<ApiGroup> groups) : m_groups(std::move(groups)) {}

bool ApiRouter::matches(const QString& pattern, const QString& path,
                        QHash<QString, QString>& params) {
    const QVector<QStringRef> want = pattern.splitRef(QLatin1Char('/'));
    const QVector<QStringRef> got = path.splitRef(QLatin1Char('/'));
    if (want.size() != got.size()) return false;
    QHash<QString, QString> found;
    for (int i = 0; i < want.size(); ++i) {
        const QStringRef& part = want[i];
        if (part.startsWith(QLatin1Char('{')) && part.endsWith(QLatin1Char('}'))) {
            if (got[i].isEmpty()) return false;
            found.insert(part.mid(1, part.size() - 2).toString(), got[i].toString());
        } else if (part != got[i]) {
            return false;
        }
    }
    params = found;
    return true;
}

QString ApiRouter::patternOf(const QString& path) const {
    QHash<QString, QString> params;
    for (const ApiGroup& group : m_groups)
        for (const ApiRoute& route : group.routes)
            if (matches(route.path, path, params)) return route.path;
    return QString();
}

ApiReply ApiRouter::dispatch(ApiRequest& request) const {
    QStringList allowed;
    for (const ApiGroup& group : m_groups) {
        for (const ApiRoute& route : group.routes) {
            QHash<QString, QString> params;
            if (!matches(route.path, request.path, params)) continue;
            if (route.method != request.method) {
                allowed << QString::fromLatin1(route.method);
                continue;
            }
            // Whatever role a token held before, the route needs the database.
            if (route.role != Role::Public && request.caller.kind == Caller::Kind::Unchecked)
                return RouteReplies::databaseAway(AuthService::kAwayRetrySeconds);
            if (route.role > request.role) {
                return request.authenticated
                           ? ApiReply::error(403, QStringLiteral("forbidden"),
                                             QStringLiteral("当前角色无权执行此操作"))
                           : ApiReply::error(401, QStringLiteral("unauthorized"),
                                             QStringLiteral("请先登录"));
            }
            if (request.caller.mustChangePassword && route.role != Role::Public &&
                !route.openDuringPasswordChange)
                return ApiReply::error(403, QStringLiteral("password_change_required"),
                                       QStringLiteral("请先修改初始密码"));
            request.params = params;
            return route.handler(request);
        }
    }
    if (allowed.isEmpty())
        return ApiReply::error(404, QStringLiteral("not_found"), QStringLiteral("接口不存在"));
    allowed.removeDuplicates();
    ApiReply reply = ApiReply::error(405, QStringLiteral("method_not_allowed"),
                                     QStringLiteral("接口不支持此方法"));
    reply.headers.append({"Allow", allowed.join(QStringLiteral(", ")).toLatin1()});
    return reply;
}
