#include "web/AccessDoor.h"

#include "api/auth/AuthService.h"

namespace {
DoorVerdict refuse(int status, const char* code, const QString& message) {
    return DoorVerdict{status, QString::fromLatin1(code), message};
}
}  // namespace

DoorVerdict AccessDoor::checkCsrf(const Caller& caller, const QByteArray& method,
                                  const QString& csrfHeader) {
    if (caller.kind == Caller::Kind::Session && changes(method) &&
        !AuthService::csrfMatches(caller, csrfHeader))
        return refuse(403, "csrf", QStringLiteral("缺少或错误的 CSRF 令牌，请刷新页面"));
    return DoorVerdict();
}

DoorVerdict AccessDoor::check(const Caller& caller, Role needed, const QByteArray& method,
                              const QString& csrfHeader, bool servedFromMemory) {
    if (needed == Role::Public) return DoorVerdict();
    if (caller.kind == Caller::Kind::Unchecked) {
        if (servedFromMemory && caller.role >= needed) return DoorVerdict();
        DoorVerdict away =
            refuse(503, "database_unavailable", QStringLiteral("数据库暂时不可用，请稍后再试"));
        away.retryAfterSeconds = AuthService::kAwayRetrySeconds;
        return away;
    }
    if (!caller.known()) return refuse(401, "unauthorized", QStringLiteral("请先登录"));
    const DoorVerdict csrf = checkCsrf(caller, method, csrfHeader);
    if (!csrf.admitted()) return csrf;
    if (caller.mustChangePassword)
        return refuse(403, "password_change_required", QStringLiteral("请先修改初始密码"));
    if (caller.role < needed)
        return refuse(403, "forbidden", QStringLiteral("当前角色无权执行此操作"));
    return DoorVerdict();
}
