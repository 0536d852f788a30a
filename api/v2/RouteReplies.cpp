#include "api/v2/RouteReplies.h"

#include <QJsonDocument>

ApiReply RouteReplies::ok(const QJsonObject& body) {
    return ApiReply::json(200, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

ApiReply RouteReplies::badRequest(const QString& message) {
    return ApiReply::error(400, QStringLiteral("bad_request"), message);
}

ApiReply RouteReplies::notFound(const QString& message) {
    return ApiReply::error(404, QStringLiteral("not_found"), message);
}

ApiReply RouteReplies::databaseFailed() {
    return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("数据库操作失败"));
}

ApiReply RouteReplies::databaseAway(int retryAfterSeconds) {
    ApiReply reply =
        ApiReply::error(503, QStringLiteral("database_unavailable"),
                        QStringLiteral("数据库暂时不可用，请 %1 秒后再试").arg(retryAfterSeconds));
    reply.headers.append({"Retry-After", QByteArray::number(retryAfterSeconds)});
    return reply;
}

bool RouteReplies::bodyObject(const ApiRequest& request, QJsonObject& object, ApiReply& failure) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        failure = badRequest(QStringLiteral("请求体须为 JSON 对象"));
        return false;
    }
    object = document.object();
    return true;
}
