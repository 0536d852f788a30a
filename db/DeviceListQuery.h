#pragma once

#include <functional>

#include <QList>
#include <QVariant>

#include "db/DeviceFilter.h"
#include "db/DeviceListRow.h"

// Pages, counts and streams the terminals a filter takes, in a stable order: the sort column,
// then the table key in the same direction. A missing value sorts before every other.
class DeviceListQuery {
  public:
    struct Sort {
        int column = 0;  // stored column (Tab_DeviceInfo::columns()); kOnline for the online state
        bool descending = false;
    };
    static constexpr int kOnline = -1;

    struct Page {
        int offset = 0;  // ignored after a cursor
        int limit = 50;
        bool afterCursor = false;  // continue after the row (cursorValue, cursorId)
        QVariant cursorValue;
        qint32 cursorId = 0;
    };

    // Up to page.limit rows; more tells whether rows follow them.
    static bool page(const DeviceFilter& filter, const Sort& sort, const Page& page,
                     QList<DeviceListRow>& rows, bool& more);
    static bool count(const DeviceFilter& filter, int& total);
    // Every row in order; visit returns false to stop early.
    static bool forEach(const DeviceFilter& filter, const Sort& sort,
                        const std::function<bool(const DeviceListRow&)>& visit);
};
