#include "api/v2/OpenApiDocument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonObject objectOf(const QByteArray& text) {
    return text.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(text).object();
}

QJsonObject errorResponse(const char* description) {
    return QJsonObject{
        {"description", description},
        {"content",
         QJsonObject{
             {"application/json",
              QJsonObject{{"schema", QJsonObject{{"$ref", "#/components/schemas/Error"}}}}}}}};
}

QJsonObject errorSchema() {
    const QJsonObject text{{"type", "string"}};
    const QJsonObject inner{{"type", "object"},
                            {"required", QJsonArray{"code", "message"}},
                            {"properties", QJsonObject{{"code", text}, {"message", text}}}};
    return QJsonObject{{"type", "object"},
                       {"required", QJsonArray{"error"}},
                       {"properties", QJsonObject{{"error", inner}}}};
}
}  // namespace

QByteArray openApiDocument(const ApiRouter& router) {
    QJsonObject schemas{{"Error", errorSchema()}};
    QJsonObject paths;
    QJsonArray tags;
    for (const ApiGroup& group : router.groups()) {
        // Several groups may share a tag; the list names each once.
        const QJsonObject tag{{"name", group.tag}};
        if (!tags.contains(tag)) tags.append(tag);
        const QJsonObject groupSchemas = objectOf(group.schemas);
        for (auto it = groupSchemas.begin(); it != groupSchemas.end(); ++it)
            schemas.insert(it.key(), it.value());
        for (const ApiRoute& route : group.routes) {
            QJsonObject operation = objectOf(route.doc);
            operation.insert("operationId", route.operationId);
            operation.insert("summary", route.summary);
            operation.insert("tags", QJsonArray{group.tag});
            operation.insert("x-role", QString::fromLatin1(roleName(route.role)));
            QJsonObject responses = operation.value("responses").toObject();
            if (route.role == Role::Public) {
                operation.insert("security", QJsonArray());
                // A change sent with a session cookie needs the session's token even here.
                if (route.method != "GET" && !responses.contains("403"))
                    responses.insert("403", errorResponse("A session's CSRF token is missing"));
            } else {
                if (!responses.contains("401"))
                    responses.insert("401", errorResponse("Not logged in"));
                if (!responses.contains("403"))
                    responses.insert("403", errorResponse("The caller's role is too low"));
                if (!responses.contains("503"))
                    responses.insert("503", errorResponse("The database is away, so the caller "
                                                          "could not be checked (Retry-After)"));
            }
            operation.insert("responses", responses);
            QJsonObject item = paths.value(route.path).toObject();
            item.insert(QString::fromLatin1(route.method).toLower(), operation);
            paths.insert(route.path, item);
        }
    }
    const QJsonObject security{
        {"session", QJsonObject{{"type", "apiKey"}, {"in", "cookie"}, {"name", "wf_session"}}},
        {"token", QJsonObject{{"type", "http"}, {"scheme", "bearer"}}}};
    const QJsonObject document{
        {"openapi", "3.0.3"},
        {"info", QJsonObject{{"title", "Wayfarer management API"}, {"version", "2"}}},
        // The paths are absolute on the management port that serves this document, whatever
        // name or proxy a client reached it through.
        {"servers",
         QJsonArray{QJsonObject{{"url", "/"},
                                {"description", "the management port serving this document"}}}},
        {"security",
         QJsonArray{QJsonObject{{"session", QJsonArray()}}, QJsonObject{{"token", QJsonArray()}}}},
        {"tags", tags},
        {"paths", paths},
        {"components", QJsonObject{{"schemas", schemas}, {"securitySchemes", security}}}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}
