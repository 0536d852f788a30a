#include "tests/support/JsonSchemaCheck.h"

#include <QJsonArray>

namespace {
QJsonObject resolve(QJsonObject schema, const QJsonObject& document) {
    for (int depth = 0; depth < 16 && schema.contains("$ref"); ++depth) {
        QJsonValue target = document;
        // "#/components/schemas/Name"
        for (const QString& part : schema.value("$ref").toString().mid(2).split('/'))
            target = target.toObject().value(part);
        schema = target.toObject();
    }
    return schema;
}

bool hasType(const QJsonValue& value, const QString& type) {
    if (type == "object") return value.isObject();
    if (type == "array") return value.isArray();
    if (type == "string") return value.isString();
    if (type == "boolean") return value.isBool();
    if (type == "number") return value.isDouble();
    if (type == "integer") return value.isDouble() && value.toDouble() == qint64(value.toDouble());
    return true;
}
}  // namespace

QStringList schemaMismatches(const QJsonValue& value, const QJsonObject& rawSchema,
                             const QJsonObject& document, const QString& where) {
    const QJsonObject schema = resolve(rawSchema, document);
    if (schema.isEmpty() && rawSchema.contains("$ref"))
        return {where + ": unresolved " + rawSchema.value("$ref").toString()};
    if (value.isNull() && schema.value("nullable").toBool()) return {};
    QStringList faults;
    for (const QJsonValue& part : schema.value("allOf").toArray())
        faults << schemaMismatches(value, part.toObject(), document, where);
    for (const QString& choice : {QStringLiteral("oneOf"), QStringLiteral("anyOf")}) {
        if (!schema.contains(choice)) continue;
        int fits = 0;
        for (const QJsonValue& part : schema.value(choice).toArray())
            fits += schemaMismatches(value, part.toObject(), document, where).isEmpty();
        if (fits == 0 || (fits > 1 && choice == "oneOf"))
            faults << where + ": fits " + QString::number(fits) + " of the " + choice + " schemas";
    }
    const QString type = schema.value("type").toString();
    if (!type.isEmpty() && !hasType(value, type)) return {where + ": not " + type};
    if (schema.contains("enum") && !schema.value("enum").toArray().contains(value))
        faults << where + ": not one of the enum values";
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (const QJsonValue& name : schema.value("required").toArray())
            if (!object.contains(name.toString())) faults << where + ": missing " + name.toString();
        const QJsonObject properties = schema.value("properties").toObject();
        if (schema.value("additionalProperties") == QJsonValue(false))
            for (const QString& name : object.keys())
                if (!properties.contains(name)) faults << where + ": unexpected " + name;
        for (auto it = properties.begin(); it != properties.end(); ++it)
            if (object.contains(it.key()))
                faults << schemaMismatches(object.value(it.key()), it.value().toObject(), document,
                                           where + "." + it.key());
    } else if (value.isArray() && schema.contains("items")) {
        const QJsonArray items = value.toArray();
        for (int i = 0; i < items.size(); ++i)
            faults << schemaMismatches(items[i], schema.value("items").toObject(), document,
                                       where + "[" + QString::number(i) + "]");
    }
    return faults;
}
