#pragma once

#include <initializer_list>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Pieces of the OpenAPI text of a route, so the groups write their documents as data.
class OperationDoc {
  public:
    static QJsonObject ref(const QString& schema);
    static QJsonObject arrayOf(const QJsonObject& items);
    // The named schema or null. In OpenAPI 3.0 nullable widens only the type beside it, so
    // nullable next to a $ref or an allOf would still refuse null.
    static QJsonObject refOrNull(const QString& schema, const QString& description);
    // An object schema whose members are all required.
    static QJsonObject object(const QJsonObject& properties);
    static QJsonObject json(const QString& description, const QJsonObject& schema);
    static QJsonObject error(const QString& description);
    // A body that is the file itself, in the media type given.
    static QJsonObject file(const QString& description, const QString& mediaType);
    static QJsonObject pathParam(const QString& name, const QString& description,
                                 const QString& example);
    static QJsonObject queryParam(const QString& name, const QJsonObject& schema);
    // A JSON request body with the example the conformance check sends.
    static QJsonObject jsonBody(const QJsonObject& schema, const QJsonValue& example);
    static QByteArray text(const QJsonObject& operation);
    // A group's component schemas, gathered from the sets it refers to, as text.
    static QByteArray schemas(std::initializer_list<QJsonObject> sets);
};
