#pragma once

#include <QJsonArray>
#include <QString>

#include "api/v2/ApiTypes.h"
#include "db/DeviceListQuery.h"

// The order of the device list and its export ("sort": any stored column or "online", "order":
// asc or desc), and the cursor that continues a page where the last one ended.
class DeviceSortParams {
  public:
    static bool read(const ApiRequest& request, DeviceListQuery::Sort& sort, QString& error);
    static QJsonArray parameters();

    // Opaque text naming the order and the last row.
    static QString cursorAfter(const DeviceListQuery::Sort& sort, const DeviceListRow& last);
    // False for a cursor that is malformed or was made for another order.
    static bool readCursor(const QString& text, const DeviceListQuery::Sort& sort,
                           DeviceListQuery::Page& page, QString& error);
};
