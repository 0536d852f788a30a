#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include "api/v2/ApiTypes.h"
#include "db/DeviceFilter.h"

// The filter language of the device list, its export and the bulk edit, described once: the
// same table reads query strings and JSON filter objects and writes their documentation. An
// empty value sets no condition.
class DeviceFilterParams {
  public:
    // Other query items (paging, sort) are not the filter's business and are left alone. The
    // search matches device IDs only for a caller who may read them.
    static bool fromQuery(const ApiRequest& request, DeviceFilter& filter, QString& error);
    // A member the language does not know is refused: a misspelt condition must not widen a
    // bulk edit to every terminal.
    static bool fromJson(const QJsonObject& object, DeviceFilter& filter, QString& error);

    static QJsonArray queryParameters();
    // The "DeviceFilter" schema, by name, for a group's components.
    static QJsonObject schemas();
};
