#pragma once

#include <QByteArray>
#include <QJsonObject>

struct ApiRequest;

// The request body as a JSON object; false when it is none.
bool jsonObjectBody(const ApiRequest& request, QJsonObject& object);
QByteArray compactJson(const QJsonObject& object);
