#pragma once

#include <QJsonObject>

#include "db/DeviceListRow.h"

// A terminal in the v2 documents: every stored column under its column name, whether it is
// connected, and its presence while it is. Written from the device table's column description.
class DeviceJson {
  public:
    static QJsonObject row(const DeviceListRow& row);
    // The same object as compact text, for long lists.
    static void appendRow(QByteArray& out, const DeviceListRow& row);
    // The "Device" schema, by name, for a group's components.
    static QJsonObject schemas();
};
