#include "api/v2/JsonBody.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include "api/v2/ApiTypes.h"

bool jsonObjectBody(const ApiRequest& request, QJsonObject& object) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return false;
    object = document.object();
    return true;
}

QByteArray compactJson(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
