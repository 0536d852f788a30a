#pragma once

#include <functional>
#include <vector>

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>

#include "db/ColumnKind.h"

// A record's members as the v2 documents show them, described once: the same list writes a
// record's JSON object and its OpenAPI schema.
template <typename T>
struct JsonField {
    QString name;
    QString type;  // "string", "integer" or "boolean"
    QString description;
    std::function<QJsonValue(const T&)> get;
};

template <typename T>
using JsonFields = std::vector<JsonField<T>>;

template <typename T>
QJsonObject recordJson(const JsonFields<T>& fields, const T& record) {
    QJsonObject object;
    for (const JsonField<T>& field : fields) object.insert(field.name, field.get(record));
    return object;
}

template <typename T>
QJsonObject recordSchema(const JsonFields<T>& fields) {
    QJsonObject properties;
    QJsonArray required;
    for (const JsonField<T>& field : fields) {
        QJsonObject property{{"type", field.type}};
        if (!field.description.isEmpty()) property.insert("description", field.description);
        properties.insert(field.name, property);
        required.append(field.name);
    }
    return QJsonObject{{"type", "object"}, {"required", required}, {"properties", properties}};
}

// The JSON type of a stored column's values.
inline QString jsonType(ColumnKind kind) {
    switch (kind) {
        case ColumnKind::Integer:
            return QStringLiteral("integer");
        case ColumnKind::Text:
            return QStringLiteral("string");
        case ColumnKind::Flag:
            break;
    }
    return QStringLiteral("boolean");
}

inline QJsonValue jsonValue(ColumnKind kind, const QVariant& value) {
    switch (kind) {
        case ColumnKind::Integer:
            return value.toLongLong();
        case ColumnKind::Text:
            return value.toString();
        case ColumnKind::Flag:
            break;
    }
    return value.toBool();
}

// The fields of a column set (count, name, kind, value of a record), in column order.
template <typename T, typename Columns>
JsonFields<T> columnFields() {
    JsonFields<T> fields;
    for (int i = 0; i < Columns::count(); ++i) {
        const ColumnKind kind = Columns::kind(i);
        fields.push_back(
            {QString::fromLatin1(Columns::name(i)), jsonType(kind), QString(),
             [i, kind](const T& record) { return jsonValue(kind, Columns::value(record, i)); }});
    }
    return fields;
}
