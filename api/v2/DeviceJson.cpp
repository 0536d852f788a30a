#include "api/v2/DeviceJson.h"

#include "api/auth/DeviceIdView.h"
#include "api/v2/JsonRecord.h"
#include "db/Tab_DeviceInfo.h"

namespace {
const JsonFields<struDevicePresence>& presenceFields() {
    static const JsonFields<struDevicePresence> fields{
        {"instance", "string", "the service instance holding the connection",
         [](const struDevicePresence& p) { return QJsonValue(p.instance); }},
        {"connectedSince", "integer", "seconds since the epoch",
         [](const struDevicePresence& p) { return QJsonValue(p.connectedSince); }},
        {"lastReport", "integer", "seconds since the epoch",
         [](const struDevicePresence& p) { return QJsonValue(p.lastReport); }},
        {"peerAddress", "string", "address:port of the terminal",
         [](const struDevicePresence& p) { return QJsonValue(p.peerAddress); }},
    };
    return fields;
}

const JsonFields<DeviceListRow>& rowFields() {
    static const JsonFields<DeviceListRow> fields = [] {
        JsonFields<DeviceListRow> out;
        for (const auto& column : columnFields(Tab_DeviceInfo::columns()))
            out.push_back(
                {column.name, column.type, column.description,
                 [get = column.get](const DeviceListRow& row) { return get(row.device); }});
        out.push_back({"online", "boolean", "connected to an instance of the service",
                       [](const DeviceListRow& row) { return QJsonValue(row.online); }});
        out.push_back({"presence", "object", QString(), [](const DeviceListRow& row) {
                           return row.online
                                      ? QJsonValue(recordJson(presenceFields(), row.presence))
                                      : QJsonValue();
                       }});
        return out;
    }();
    return fields;
}
}  // namespace

QJsonObject DeviceJson::row(const DeviceListRow& row, Role reader) {
    if (DeviceIdView::seesWhole(reader)) return recordJson(rowFields(), row);
    DeviceListRow shown = row;
    DeviceIdView::apply(reader, shown.device);
    return recordJson(rowFields(), shown);
}

void DeviceJson::appendRow(QByteArray& out, const DeviceListRow& row, Role reader) {
    if (DeviceIdView::seesWhole(reader)) return appendRecordText(out, rowFields(), row);
    DeviceListRow shown = row;
    DeviceIdView::apply(reader, shown.device);
    appendRecordText(out, rowFields(), shown);
}

QJsonObject DeviceJson::schemas() {
    QJsonObject device = recordSchema(rowFields());
    QJsonObject presence = recordSchema(presenceFields());
    presence.insert("nullable", true);
    presence.insert("description", "null while the terminal is not connected");
    QJsonObject properties = device.value("properties").toObject();
    properties.insert("presence", presence);
    device.insert("properties", properties);
    device.insert("description",
                  "Times are seconds since the epoch, 0 for none; flags are the terminal's "
                  "pending requests.");
    return QJsonObject{{"Device", device}};
}
