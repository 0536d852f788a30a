#include "api/v2/DeviceQueryRoutes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "api/v2/CollectedFileJson.h"
#include "api/v2/DeviceFilterParams.h"
#include "api/v2/DeviceJson.h"
#include "api/v2/DeviceSortParams.h"
#include "api/v2/IdentityConflictJson.h"
#include "api/v2/JsonRecord.h"
#include "api/v2/ListParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/RouteReplies.h"
#include "api/v2/StallClock.h"
#include "api/v2/UpgradeAttemptJson.h"
#include "api/v2/UpgradeDecisionJson.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_IdentityConflict.h"
#include "db/Tab_UpgradeAttempt.h"
#include "db/Tab_UpgradeDecision.h"
#include "files/CollectedFiles.h"

namespace {
// A terminal's history shown with it; the upgrade list pages through the rest.
constexpr int kHistoryShown = 100;

ApiReply listDevices(const ApiRequest& request) {
    DeviceFilter filter;
    DeviceListQuery::Sort sort;
    ListParams paging;
    QString error;
    if (!DeviceFilterParams::fromQuery(request, filter, error) ||
        !DeviceSortParams::read(request, sort, error) || !paging.read(request, error))
        return RouteReplies::badRequest(error);
    DeviceListQuery::Page page;
    page.offset = paging.offset;
    page.limit = paging.limit;
    const QString cursor = request.queryValue(QStringLiteral("cursor"));
    if (!cursor.isEmpty() && !DeviceSortParams::readCursor(cursor, sort, page, error))
        return RouteReplies::badRequest(error);

    int total = 0;
    QList<DeviceListRow> rows;
    bool more = false;
    if (!DeviceListQuery::count(filter, total) ||
        !DeviceListQuery::page(filter, sort, page, rows, more))
        return RouteReplies::databaseFailed();
    // Written as text: up to 500 rows would be copied into Qt's JSON tree once per row.
    QByteArray body = "{\"total\":" + QByteArray::number(total) + ",\"offset\":" +
                      (page.afterCursor ? QByteArray("null") : QByteArray::number(page.offset)) +
                      ",\"limit\":" + QByteArray::number(page.limit) + ",\"nextCursor\":";
    appendJsonText(
        body, more ? QJsonValue(DeviceSortParams::cursorAfter(sort, rows.last())) : QJsonValue());
    body += ",\"items\":[";
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0) body += ',';
        DeviceJson::appendRow(body, rows.at(i), request.role);
    }
    body += "]}";
    return ApiReply::json(200, body);
}

ApiReply oneDevice(const ApiRequest& request) {
    const QString devSN = request.params.value(QStringLiteral("devSN"));
    DeviceFilter filter;
    filter.equal << qMakePair(Tab_DeviceInfo::columns().indexOf(QStringLiteral("devSN")), devSN);
    DeviceListQuery::Page page;
    page.limit = 1;
    QList<DeviceListRow> rows;
    bool more = false;
    if (!DeviceListQuery::page(filter, DeviceListQuery::Sort(), page, rows, more))
        return RouteReplies::databaseFailed();
    if (rows.isEmpty()) return RouteReplies::notFound(QStringLiteral("设备不存在"));

    Tab_UpgradeAttempt::Filter history;
    history.devSN = devSN;
    history.stalledBefore = stalledBefore();
    QList<Tab_UpgradeAttempt::Row> attempts;
    int attemptCount = 0;
    if (!Tab_UpgradeAttempt::list(history, 0, kHistoryShown, attempts, attemptCount))
        return RouteReplies::databaseFailed();
    QJsonArray upgrades;
    for (const Tab_UpgradeAttempt::Row& attempt : attempts)
        upgrades.append(UpgradeAttemptJson::row(attempt));

    struUpgradeDecision decision;
    const Tab_UpgradeDecision::Result decided = Tab_UpgradeDecision::get(devSN, decision);
    if (decided == Tab_UpgradeDecision::Result::Failed) return RouteReplies::databaseFailed();
    struIdentityConflict conflict;
    const Tab_IdentityConflict::Result conflicted = Tab_IdentityConflict::get(devSN, conflict);
    if (conflicted == Tab_IdentityConflict::Result::Failed) return RouteReplies::databaseFailed();

    const struLocalParam param = request.parameters();
    QJsonArray files;
    for (const CollectedFiles::Entry& entry : CollectedFiles::list(param, devSN))
        files.append(CollectedFileJson::row(devSN, entry));
    return RouteReplies::ok(
        {{"device", DeviceJson::row(rows.first(), request.role)},
         {"upgrades", upgrades},
         {"upgradeCount", attemptCount},
         {"decision", decided == Tab_UpgradeDecision::Result::Found
                          ? QJsonValue(UpgradeDecisionJson::row(decision))
                          : QJsonValue()},
         {"identityConflict", conflicted == Tab_IdentityConflict::Result::Found
                                  ? QJsonValue(IdentityConflictJson::row(conflict, request.role))
                                  : QJsonValue()},
         {"files", files}});
}

QJsonObject listDoc() {
    QJsonArray parameters = DeviceFilterParams::queryParameters();
    for (const QJsonValue& p : DeviceSortParams::parameters()) parameters.append(p);
    for (const QJsonValue& p : ListParams::parameters()) parameters.append(p);
    const QJsonObject page = OperationDoc::object(
        {{"total", QJsonObject{{"type", "integer"}, {"description", "rows the filter takes"}}},
         {"offset",
          QJsonObject{
              {"type", "integer"}, {"nullable", true}, {"description", "null after a cursor"}}},
         {"limit", QJsonObject{{"type", "integer"}}},
         {"items", OperationDoc::arrayOf(OperationDoc::ref("Device"))},
         {"nextCursor",
          QJsonObject{
              {"type", "string"}, {"nullable", true}, {"description", "null on the last page"}}}});
    return {{"description",
             "Substring search uses a trigram index from three characters on; shorter texts "
             "scan. A deep page is cheaper through nextCursor than through offset."},
            {"parameters", parameters},
            {"responses", QJsonObject{{"200", OperationDoc::json("One page", page)},
                                      {"400", OperationDoc::error("A parameter is invalid")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject oneDoc() {
    const QJsonObject body = OperationDoc::object(
        {{"device", OperationDoc::ref("Device")},
         {"upgrades", OperationDoc::arrayOf(OperationDoc::ref("UpgradeAttempt"))},
         {"upgradeCount", QJsonObject{{"type", "integer"},
                                      {"description", "all attempts; the newest 100 are listed"}}},
         {"decision",
          OperationDoc::refOrNull("UpgradeDecision",
                                  "the upgrade decision at its last report; null before one")},
         {"identityConflict",
          OperationDoc::refOrNull(
              "IdentityConflict",
              "the last report refused for another device ID than the pinned one, kept apart "
              "from the decision; null when there was none")},
         {"files", OperationDoc::arrayOf(OperationDoc::ref("CollectedFile"))}});
    return {{"parameters", QJsonArray{OperationDoc::pathParam("devSN", "serial number", "SN0001")}},
            {"responses", QJsonObject{{"200", OperationDoc::json("The terminal", body)},
                                      {"404", OperationDoc::error("No such terminal")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}

QByteArray schemas() {
    return OperationDoc::schemas({DeviceJson::schemas(), UpgradeAttemptJson::schemas(),
                                  CollectedFileJson::schemas(), UpgradeDecisionJson::schemas(),
                                  IdentityConflictJson::schemas()});
}
}  // namespace

ApiGroup deviceQueryRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("devices");
    group.schemas = schemas();
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/devices"), Role::Viewer, QStringLiteral("listDevices"),
         QStringLiteral("Terminals a page at a time: search, filters, any order"), listDevices,
         OperationDoc::text(listDoc())},
        {"GET", QStringLiteral("/KORVA/v2/devices/{devSN}"), Role::Viewer,
         QStringLiteral("getDevice"),
         QStringLiteral("One terminal: stored columns, presence, upgrade history, last upgrade "
                        "decision, last identity conflict, collected files"),
         oneDevice, OperationDoc::text(oneDoc())},
    };
    return group;
}
