#pragma once

#include <functional>
#include <vector>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>

#include "core/JsonText.h"
#include "db/RecordColumns.h"

// A record's members as the v2 documents show them, described once: the same list writes a
// record's JSON object and its OpenAPI schema.
template <typename T>
struct JsonField {
    QString name;
    QString type;  // "string", "integer", "number", "boolean" or "object"
    QString description;
    std::function<QJsonValue(const T&)> get;
    bool nullable = false;
};

template <typename T>
using JsonFields = std::vector<JsonField<T>>;

template <typename T>
QJsonObject recordJson(const JsonFields<T>& fields, const T& record) {
    QJsonObject object;
    for (const JsonField<T>& field : fields) object.insert(field.name, field.get(record));
    return object;
}

// A value as compact JSON text.
inline void appendJsonText(QByteArray& out, const QJsonValue& value) {
    switch (value.type()) {
        case QJsonValue::String:
            JsonText::appendString(out, value.toString());
            return;
        case QJsonValue::Double: {
            const double number = value.toDouble();
            out += number == static_cast<qint64>(number)
                       ? QByteArray::number(static_cast<qint64>(number))
                       : QByteArray::number(number, 'g', 17);
            return;
        }
        case QJsonValue::Bool:
            out += value.toBool() ? "true" : "false";
            return;
        case QJsonValue::Object:
            out += QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
            return;
        case QJsonValue::Array:
            out += QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
            return;
        default:
            out += "null";
            return;
    }
}

// The object recordJson makes, written straight to compact text: a list of hundreds of rows
// built as Qt's JSON tree is copied again for every row appended to it.
template <typename T>
void appendRecordText(QByteArray& out, const JsonFields<T>& fields, const T& record) {
    out += '{';
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        JsonText::appendString(out, fields[i].name);
        out += ':';
        appendJsonText(out, fields[i].get(record));
    }
    out += '}';
}

template <typename T>
QJsonObject recordSchema(const JsonFields<T>& fields) {
    QJsonObject properties;
    QJsonArray required;
    for (const JsonField<T>& field : fields) {
        QJsonObject property{{"type", field.type}};
        if (!field.description.isEmpty()) property.insert("description", field.description);
        if (field.nullable) property.insert("nullable", true);
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

// The fields of a table's described columns, in column order.
template <typename T>
JsonFields<T> columnFields(const RecordColumns<T>& columns) {
    JsonFields<T> fields;
    for (const RecordColumn<T>& column : columns.columns())
        fields.push_back(
            {QString::fromLatin1(column.name), jsonType(column.kind), QString(),
             [column](const T& record) { return jsonValue(column.kind, column.value(record)); }});
    return fields;
}
