#pragma once

#include <QJsonObject>

#include "api/auth/Role.h"
#include "db/DeviceListRow.h"

// A terminal in the v2 documents: every stored column under its column name, whether it is
// connected, and its presence while it is. Written from the device table's column description;
// the device ID as the reader's role may see it (DeviceIdView).
class DeviceJson {
  public:
    static QJsonObject row(const DeviceListRow& row, Role reader);
    // The same object as compact text, for long lists.
    static void appendRow(QByteArray& out, const DeviceListRow& row, Role reader);
    // The "Device" schema, by name, for a group's components.
    static QJsonObject schemas();
};
