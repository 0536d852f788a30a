#pragma once

#include <QMap>
#include <QString>

// Parses an Accept-Encoding value into name -> q. An item without ";q=" gets q 1.0; an item
// whose parameters lack "q=" or whose q is not a number fails the whole parse (false).
bool parseAcceptEncoding(const QString& value, QMap<QString, float>& weights);

// The stream flag of a file reply after the client's Accept-Encoding header: when the client
// does not accept "*", streaming stays only if it accepts "chuncked".
bool streamAfterAcceptEncoding(bool hasHeader, const QString& value, bool stream);
