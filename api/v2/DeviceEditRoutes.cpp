#include "api/v2/DeviceEditRoutes.h"
#include "api/auth/AuditLog.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "api/v2/BulkPreviewJson.h"
#include "api/v2/DeviceEventNote.h"
#include "api/v2/DeviceFilterParams.h"
#include "api/v2/DeviceJson.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/PackageJson.h"
#include "api/v2/RouteReplies.h"
#include "codec/SocketPacketHandler.h"
#include "db/DeviceEditor.h"
#include "db/DeviceListQuery.h"
#include "db/DevicePackageCounts.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_Package.h"

namespace {
// Bound one by one in the statement: well under SQLite's limit of bound values.
constexpr int kMaxSerials = 5000;

// The columns an operator may set, with what each asks of the terminal.
const struct {
    const char* column;
    const char* description;
} kEditable[] = {
    {"isAutoUpdate", "upgrade at the next report whatever the versions"},
    {"ConfigCmd", "command sent at the next report; empty for none"},
    {"GetLogFile", "fetch the log file"},
    {"GetIndexFile", "fetch the recording index file"},
    {"GetPrintFile", "fetch the print file"},
    {"GetRunInfoFile", "fetch the driving-information file"},
};

// The one place this group's changes are recorded: the audit trail writes its row here.
void recordChange(const ApiRequest& request, const char* action, const QJsonObject& detail) {
    request.audit(QString::fromLatin1(action),
                  QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact)));
}

bool readChanges(const QJsonValue& value, QList<DeviceEditor::Change>& changes, QString& error) {
    const QJsonObject object = value.toObject();
    if (!value.isObject() || object.isEmpty()) {
        error = QStringLiteral("须给出要修改的字段");
        return false;
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        int column = -1;
        for (const auto& editable : kEditable)
            if (it.key() == QLatin1String(editable.column))
                column = Tab_DeviceInfo::columns().indexOf(it.key());
        if (column < 0) {
            error = QStringLiteral("字段 %1 不可修改").arg(it.key());
            return false;
        }
        const bool text = Tab_DeviceInfo::columns().kind(column) == ColumnKind::Text;
        if (text ? !it.value().isString() : !it.value().isBool()) {
            error = QStringLiteral("字段 %1 须为%2").arg(it.key(), text ? "字符串" : "布尔值");
            return false;
        }
        // A command that does not fit one packet could never be sent.
        if (text && it.value().toString().toUtf8().size() > SocketPacketHandler::kMaxDataLen) {
            error = QStringLiteral("字段 %1 过长").arg(it.key());
            return false;
        }
        changes << qMakePair(column, it.value().toVariant());
    }
    return true;
}

ApiReply editOne(const ApiRequest& request) {
    const QString devSN = request.params.value(QStringLiteral("devSN"));
    QJsonObject body;
    ApiReply failure;
    if (!RouteReplies::bodyObject(request, body, failure)) return failure;
    QList<DeviceEditor::Change> changes;
    QString error;
    if (!readChanges(body, changes, error)) return RouteReplies::badRequest(error);
    int affected = 0;
    if (!DeviceEditor::updateOne(devSN, changes, affected)) return RouteReplies::databaseFailed();
    if (affected == 0) return RouteReplies::notFound(QStringLiteral("设备不存在"));
    recordChange(request, "device_edit", {{"devSN", devSN}, {"set", body}});
    noteEvent(request, devSN, kEventCommandSet, QJsonDocument(body).toJson(QJsonDocument::Compact));

    DeviceFilter filter;
    filter.equal << qMakePair(Tab_DeviceInfo::columns().indexOf(QStringLiteral("devSN")), devSN);
    DeviceListQuery::Page page;
    page.limit = 1;
    QList<DeviceListRow> rows;
    bool more = false;
    if (!DeviceListQuery::page(filter, DeviceListQuery::Sort(), page, rows, more) || rows.isEmpty())
        return RouteReplies::databaseFailed();
    return RouteReplies::ok({{"device", DeviceJson::row(rows.first(), request.role)}});
}

// Rows an operator ticked one by one narrow the filter to those serial numbers.
bool readSerials(const QJsonValue& value, DeviceFilter& filter, QString& error) {
    if (value.isUndefined()) return true;
    const QJsonArray list = value.toArray();
    if (!value.isArray() || list.isEmpty() || list.size() > kMaxSerials) {
        error = QStringLiteral("serials 须为 1 到 %1 个序列号").arg(kMaxSerials);
        return false;
    }
    filter.bySerials = true;
    for (const QJsonValue& serial : list) {
        if (!serial.isString()) {
            error = QStringLiteral("serials 的每一项须为字符串");
            return false;
        }
        filter.serials << serial.toString();
    }
    return true;
}

// The body of a bulk edit; a preview may leave out the changes, as only a forced upgrade
// changes what it counts.
bool readBulk(const ApiRequest& request, bool needChanges, QJsonObject& body, DeviceFilter& filter,
              QList<DeviceEditor::Change>& changes, ApiReply& failure) {
    if (!RouteReplies::bodyObject(request, body, failure)) return false;
    for (auto it = body.begin(); it != body.end(); ++it)
        if (it.key() != QLatin1String("filter") && it.key() != QLatin1String("set") &&
            it.key() != QLatin1String("serials")) {
            failure = RouteReplies::badRequest(QStringLiteral("未知的字段 %1").arg(it.key()));
            return false;
        }
    // Every terminal only when asked for in so many words: {"filter": {}}.
    if (!body.value("filter").isObject()) {
        failure = RouteReplies::badRequest(QStringLiteral("须给出 filter 对象"));
        return false;
    }
    QString error;
    if (!DeviceFilterParams::fromJson(body.value("filter").toObject(), filter, error) ||
        !readSerials(body.value("serials"), filter, error) ||
        ((needChanges || body.contains("set")) &&
         !readChanges(body.value("set"), changes, error))) {
        failure = RouteReplies::badRequest(error);
        return false;
    }
    return true;
}

ApiReply editMatching(const ApiRequest& request) {
    QJsonObject body;
    DeviceFilter filter;
    QList<DeviceEditor::Change> changes;
    ApiReply failure;
    if (!readBulk(request, true, body, filter, changes, failure)) return failure;
    int affected = 0;
    if (!DeviceEditor::updateMatching(filter, changes, affected))
        return RouteReplies::databaseFailed();
    QJsonObject detail{
        {"filter", body.value("filter")}, {"set", body.value("set")}, {"updated", affected}};
    if (filter.bySerials) detail.insert("serials", body.value("serials"));
    recordChange(request, "device_edit", detail);
    return RouteReplies::ok({{"updated", affected}});
}

// The same body as the edit, counted and nothing written.
ApiReply previewMatching(const ApiRequest& request) {
    QJsonObject body;
    DeviceFilter filter;
    QList<DeviceEditor::Change> changes;
    ApiReply failure;
    if (!readBulk(request, false, body, filter, changes, failure)) return failure;
    QList<DevicePackageCounts::Group> groups;
    QList<struPackageInfo> packages;
    Tab_Package table;
    if (!DevicePackageCounts::count(filter, groups) || !table.getAllPackages(packages))
        return RouteReplies::databaseFailed();
    const bool forces = body.value("set").toObject().value("isAutoUpdate").toBool();
    return RouteReplies::ok(BulkPreviewJson::reply(
        groups, packages, forces, static_cast<int>(request.parameters().BulkConfirmTypedCount)));
}

QJsonObject changesSchema() {
    QJsonObject properties;
    for (const auto& editable : kEditable) {
        const int column = Tab_DeviceInfo::columns().indexOf(QLatin1String(editable.column));
        const bool text = Tab_DeviceInfo::columns().kind(column) == ColumnKind::Text;
        properties.insert(editable.column, QJsonObject{{"type", text ? "string" : "boolean"},
                                                       {"description", editable.description}});
    }
    return QJsonObject{{"type", "object"},
                       {"description", "only the members given are written"},
                       {"minProperties", 1},
                       {"properties", properties}};
}

QJsonObject editOneDoc() {
    return {
        {"parameters", QJsonArray{OperationDoc::pathParam("devSN", "serial number", "SN0001")}},
        {"requestBody",
         OperationDoc::jsonBody(OperationDoc::ref("DeviceChanges"),
                                QJsonObject{{"ConfigCmd", "reboot"}, {"GetLogFile", true}})},
        {"responses",
         QJsonObject{{"200", OperationDoc::json(
                                 "The terminal as it is now",
                                 OperationDoc::object({{"device", OperationDoc::ref("Device")}}))},
                     {"400", OperationDoc::error("The body is not a valid change")},
                     {"404", OperationDoc::error("No such terminal")},
                     {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject bulkBodySchema(bool needChanges) {
    const QJsonObject serials{
        {"type", "array"},
        {"items", QJsonObject{{"type", "string"}}},
        {"minItems", 1},
        {"maxItems", kMaxSerials},
        {"description", "only these serial numbers among those the filter takes"}};
    QJsonObject body = OperationDoc::object({{"filter", OperationDoc::ref("DeviceFilter")},
                                             {"serials", serials},
                                             {"set", OperationDoc::ref("DeviceChanges")}});
    body.insert("required", needChanges ? QJsonArray{"filter", "set"} : QJsonArray{"filter"});
    return body;
}

QJsonObject editMatchingDoc() {
    const QJsonObject body = bulkBodySchema(true);
    const QJsonObject example{{"filter", QJsonObject{{"devType", "T1"}, {"AppVersionNot", "V9"}}},
                              {"serials", QJsonArray{"SN0001", "SN0002"}},
                              {"set", QJsonObject{{"isAutoUpdate", true}}}};
    return {{"description",
             "One statement over every terminal the filter takes; {\"filter\":{}} takes all, "
             "serials narrows it to the rows an operator picked."},
            {"requestBody", OperationDoc::jsonBody(body, example)},
            {"responses",
             QJsonObject{
                 {"200", OperationDoc::json("Rows written",
                                            OperationDoc::object(
                                                {{"updated", QJsonObject{{"type", "integer"}}}}))},
                 {"400", OperationDoc::error("The filter or the changes are invalid")},
                 {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject previewMatchingDoc() {
    const QJsonObject example{{"filter", QJsonObject{{"devType", "T1"}}},
                              {"set", QJsonObject{{"isAutoUpdate", true}}}};
    return {{"description",
             "Counts what the same body would take at /KORVA/v2/devices/bulk, by the database "
             "and without writing: online and offline terminals, and per package of their type "
             "those already on its versions. set may be left out."},
            {"requestBody", OperationDoc::jsonBody(bulkBodySchema(false), example)},
            {"responses",
             QJsonObject{{"200", OperationDoc::json("What the edit would take",
                                                    OperationDoc::ref("BulkPreview"))},
                         {"400", OperationDoc::error("The filter or the changes are invalid")},
                         {"500", OperationDoc::error("The database failed")}}}};
}

QByteArray schemas() {
    return OperationDoc::schemas(
        {DeviceJson::schemas(), QJsonObject{{"DeviceChanges", changesSchema()}},
         DeviceFilterParams::schemas(), PackageJson::schemas(), BulkPreviewJson::schemas()});
}
}  // namespace

ApiGroup deviceEditRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("device requests");
    group.schemas = schemas();
    group.routes = {
        {"POST", QStringLiteral("/KORVA/v2/devices/bulk"), Role::Operator,
         QStringLiteral("updateDevicesByFilter"),
         QStringLiteral("Set requests of every terminal a filter takes"), editMatching,
         OperationDoc::text(editMatchingDoc())},
        {"POST", QStringLiteral("/KORVA/v2/devices/bulk/preview"), Role::Operator,
         QStringLiteral("previewDevicesByFilter"),
         QStringLiteral("Count what setting requests by a filter would take"), previewMatching,
         OperationDoc::text(previewMatchingDoc())},
        {"PATCH", QStringLiteral("/KORVA/v2/devices/{devSN}"), Role::Operator,
         QStringLiteral("updateDevice"), QStringLiteral("Set requests of one terminal"), editOne,
         OperationDoc::text(editOneDoc())},
    };
    return group;
}
