#include "api/v2/IdentityConflictJson.h"

#include "api/auth/DeviceIdView.h"
#include "api/v2/JsonRecord.h"

namespace {
const JsonFields<struIdentityConflict>& fields() {
    static const JsonFields<struIdentityConflict> list{
        {"at", "integer", "seconds since the epoch",
         [](const struIdentityConflict& c) { return QJsonValue(c.conflictAt); }},
        {"devId", "string", "the device ID reported; masked for viewers",
         [](const struIdentityConflict& c) { return QJsonValue(c.devId); }},
        {"address", "string", "address:port it came from",
         [](const struIdentityConflict& c) { return QJsonValue(c.address); }},
    };
    return list;
}
}  // namespace

QJsonObject IdentityConflictJson::row(const struIdentityConflict& conflict, Role role) {
    struIdentityConflict shown = conflict;
    shown.devId = DeviceIdView::shown(role, conflict.devId);
    return recordJson(fields(), shown);
}

QJsonObject IdentityConflictJson::schemas() {
    QJsonObject schema = recordSchema(fields());
    schema.insert("description",
                  QStringLiteral("The last report refused because its device ID was not the one "
                                 "the serial number is pinned to; the terminal's decision is not "
                                 "changed by it"));
    return QJsonObject{{"IdentityConflict", schema}};
}
