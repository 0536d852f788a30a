#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// Checks a JSON value against the subset of OpenAPI 3 schema the v2 document uses: type,
// required, properties, additionalProperties false, items, enum, nullable, allOf, oneOf, anyOf
// and $ref into the document's components. Returns
// one line per mismatch, each naming where in the value it is.
QStringList schemaMismatches(const QJsonValue& value, const QJsonObject& schema,
                             const QJsonObject& document, const QString& where = "$");
