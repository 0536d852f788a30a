#include "api/v2/DeviceRoutes.h"

#include "api/auth/AuditLog.h"
#include "api/v2/DeviceEventNote.h"
#include "db/Tab_DeviceInfo.h"

namespace {
// A unit legitimately replaced keeps its serial number but reports another device ID: the
// operator frees the serial number for the device ID of its next report.
ApiReply releasePin(const ApiRequest& request) {
    const QString devSN = request.params.value(QStringLiteral("devSN"));
    switch (Tab_DeviceInfo().releasePin(devSN)) {
        case Tab_DeviceInfo::RowState::Found:
            request.audit(QStringLiteral("pin_release"),
                          QStringLiteral("序列号 %1 的设备ID绑定已解除").arg(devSN));
            noteEvent(request, devSN, kEventPinReleased, QString());
            return ApiReply::json(204, QByteArray());
        case Tab_DeviceInfo::RowState::Missing:
            return ApiReply::error(404, QStringLiteral("not_found"), QStringLiteral("设备不存在"));
        case Tab_DeviceInfo::RowState::Failed:
            break;
    }
    return ApiReply::error(503, QStringLiteral("database_unavailable"),
                           QStringLiteral("数据库暂不可用"));
}
}  // namespace

ApiGroup deviceRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("devices");
    group.routes = {
        {"DELETE", QStringLiteral("/KORVA/v2/devices/{devSN}/pin"), Role::Operator,
         QStringLiteral("releaseDevicePin"),
         QStringLiteral("Release the device ID pinned to a serial number"), releasePin,
         R"({"description":"The next report of the serial number pins the device ID it carries.",
             "parameters":[{"name":"devSN","in":"path","required":true,
                 "schema":{"type":"string","example":"SN0001"}}],
             "responses":{"204":{"description":"Released"},
                 "404":{"description":"No such serial number",
                     "content":{"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}}},
                 "503":{"description":"The database could not be used",
                     "content":{"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}}}}})"},
    };
    return group;
}
