#pragma once

#include <QJsonObject>
#include <QString>

#include "api/v2/ApiTypes.h"

// The replies the v2 groups share: a JSON object, and the errors every group answers with.
class RouteReplies {
  public:
    static ApiReply ok(const QJsonObject& body);
    static ApiReply badRequest(const QString& message);
    static ApiReply notFound(const QString& message);
    static ApiReply databaseFailed();
    // 503 with Retry-After: the database is away, so nothing could be checked or done.
    static ApiReply databaseAway(int retryAfterSeconds);
    // A body that must be one JSON object; false with the 400 reply otherwise.
    static bool bodyObject(const ApiRequest& request, QJsonObject& object, ApiReply& failure);
};
