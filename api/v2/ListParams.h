#pragma once

#include <QJsonArray>
#include <QString>

#include "api/v2/ApiTypes.h"

// The paging of a v2 list: offset (0 and up) and limit (1 to 500, 50 when absent).
struct ListParams {
    static constexpr int kMaxLimit = 500;
    static constexpr int kDefaultLimit = 50;

    int offset = 0;
    int limit = kDefaultLimit;

    // False, with the reason, for a value out of range or not a number.
    bool read(const ApiRequest& request, QString& error);
    static QJsonArray parameters();
};
