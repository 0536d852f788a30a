#include "api/v2/MetaRoutes.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include "api/v2/ApiRoutes.h"
#include "api/v2/OpenApiDocument.h"

namespace {
ApiReply document(const ApiRequest&) {
    static const QByteArray text = openApiDocument(apiRouter());
    return ApiReply::json(200, text);
}

ApiReply status(const ApiRequest& request) {
    const QDateTime now = QDateTime::currentDateTime();
    const QJsonObject body{{"serverTime", now.toString(Qt::ISODate)},
                           {"serverTimeMs", now.toMSecsSinceEpoch()},
                           {"version", QCoreApplication::applicationVersion()},
                           {"role", QString::fromLatin1(roleName(request.role))},
                           {"account", request.account}};
    return ApiReply::json(200, QJsonDocument(body).toJson(QJsonDocument::Compact));
}
}  // namespace

ApiGroup metaRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("meta");
    group.schemas = R"({"Status":{"type":"object",
        "required":["serverTime","serverTimeMs","version","role","account"],
        "properties":{"serverTime":{"type":"string","description":"local time, ISO 8601"},
            "serverTimeMs":{"type":"integer","description":"milliseconds since the epoch"},
            "version":{"type":"string"},
            "role":{"type":"string","enum":["public","viewer","operator","admin"]},
            "account":{"type":"string"}}}})";
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/openapi.json"), Role::Viewer,
         QStringLiteral("getApiDocument"), QStringLiteral("This document"), document,
         R"({"responses":{"200":{"description":"OpenAPI 3 document",
             "content":{"application/json":{"schema":{"type":"object","required":["openapi","paths"],
                 "properties":{"openapi":{"type":"string"},"paths":{"type":"object"}}}}}}}})"},
        {"GET", QStringLiteral("/KORVA/v2/status"), Role::Viewer, QStringLiteral("getStatus"),
         QStringLiteral("Server time and version, and who is calling"), status,
         R"({"responses":{"200":{"description":"Status",
             "content":{"application/json":{"schema":{"$ref":"#/components/schemas/Status"}}}}}})"},
    };
    return group;
}
