#include "api/v2/OperationDoc.h"

#include <QJsonDocument>

QJsonObject OperationDoc::ref(const QString& schema) {
    return QJsonObject{{"$ref", "#/components/schemas/" + schema}};
}

QJsonObject OperationDoc::refOrNull(const QString& schema, const QString& description) {
    const QJsonObject onlyNull{
        {"type", "object"}, {"nullable", true}, {"enum", QJsonArray{QJsonValue()}}};
    return QJsonObject{{"description", description}, {"oneOf", QJsonArray{ref(schema), onlyNull}}};
}

QJsonObject OperationDoc::arrayOf(const QJsonObject& items) {
    return QJsonObject{{"type", "array"}, {"items", items}};
}

QJsonObject OperationDoc::object(const QJsonObject& properties) {
    return QJsonObject{{"type", "object"},
                       {"required", QJsonArray::fromStringList(properties.keys())},
                       {"properties", properties}};
}

QJsonObject OperationDoc::json(const QString& description, const QJsonObject& schema) {
    return QJsonObject{
        {"description", description},
        {"content", QJsonObject{{"application/json", QJsonObject{{"schema", schema}}}}}};
}

QJsonObject OperationDoc::error(const QString& description) {
    return json(description, ref("Error"));
}

QJsonObject OperationDoc::file(const QString& description, const QString& mediaType) {
    return QJsonObject{
        {"description", description},
        {"content",
         QJsonObject{{mediaType, QJsonObject{{"schema", QJsonObject{{"type", "string"},
                                                                    {"format", "binary"}}}}}}}};
}

QJsonObject OperationDoc::pathParam(const QString& name, const QString& description,
                                    const QString& example) {
    return QJsonObject{{"name", name},
                       {"in", "path"},
                       {"required", true},
                       {"description", description},
                       {"schema", QJsonObject{{"type", "string"}}},
                       {"example", example}};
}

QJsonObject OperationDoc::queryParam(const QString& name, const QJsonObject& schema) {
    return QJsonObject{{"name", name}, {"in", "query"}, {"schema", schema}};
}

QJsonObject OperationDoc::jsonBody(const QJsonObject& schema, const QJsonValue& example) {
    return QJsonObject{
        {"required", true},
        {"content",
         QJsonObject{{"application/json", QJsonObject{{"schema", schema}, {"example", example}}}}}};
}

QByteArray OperationDoc::schemas(std::initializer_list<QJsonObject> sets) {
    QJsonObject all;
    for (const QJsonObject& set : sets)
        for (auto it = set.begin(); it != set.end(); ++it) all.insert(it.key(), it.value());
    return QJsonDocument(all).toJson(QJsonDocument::Compact);
}

QByteArray OperationDoc::text(const QJsonObject& operation) {
    return QJsonDocument(operation).toJson(QJsonDocument::Compact);
}
