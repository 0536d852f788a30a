#pragma once

#include <QJsonArray>
#include <QString>

#include "api/v2/ApiTypes.h"

// A time range of a v2 list: from (inclusive) and to (exclusive), seconds since 1970; 0 or
// absent leaves that end open.
struct TimeRangeParams {
    qint64 from = 0;
    qint64 to = 0;

    // False, with the reason, for a value that is not a whole number of seconds or an empty range.
    bool read(const ApiRequest& request, QString& error);
    // what names the time the range applies to, for the document.
    static QJsonArray parameters(const QString& what);
};
