#pragma once

#include <QVariant>

#include "model/struDeviceInfo.h"
#include "model/struDevicePresence.h"

// A terminal as the console lists it: its stored row and, while connected, its presence.
struct DeviceListRow {
    struDeviceInfo device;
    bool online = false;
    struDevicePresence presence;  // empty when offline
    QVariant sortValue;           // the row's value of the sort, for the next page's cursor
};
