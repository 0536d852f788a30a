#pragma once

#include <QByteArray>
#include <QString>

// Pieces of compact JSON text written exactly as QJsonDocument::Compact writes them, for the
// documents too large to go through QJsonObject quickly.
namespace JsonText {

// A JSON string: quotes, backslashes and control characters escaped, everything else as UTF-8;
// an unpaired surrogate becomes a \uXXXX escape.
void appendString(QByteArray& out, const QString& text);

}  // namespace JsonText
