#include "api/v2/UpgradeRoutes.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "api/v2/ListParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/RouteReplies.h"
#include "api/v2/StallClock.h"
#include "api/v2/TimeRangeParams.h"
#include "api/v2/UpgradeAttemptJson.h"

namespace {
const UpgradeAttemptState kStates[] = {
    UpgradeAttemptState::Running, UpgradeAttemptState::Stalled, UpgradeAttemptState::Completed,
    UpgradeAttemptState::Reverted, UpgradeAttemptState::Superseded};

QStringList resultNames() {
    QStringList names;
    for (int i = 0; i < kAttemptResultCount; ++i)
        names << attemptResultName(static_cast<AttemptResult>(i));
    return names;
}

QStringList stateNames() {
    QStringList names;
    for (UpgradeAttemptState state : kStates) names << upgradeAttemptStateName(state);
    return names;
}

ApiReply listAttempts(const ApiRequest& request) {
    ListParams paging;
    TimeRangeParams started;
    QString error;
    if (!paging.read(request, error) || !started.read(request, error))
        return RouteReplies::badRequest(error);
    Tab_UpgradeAttempt::Filter filter;
    filter.stalledBefore = stalledBefore();
    filter.devSN = request.queryValue(QStringLiteral("devSN"));
    filter.serialPart = request.queryValue(QStringLiteral("devSNContains"));
    filter.devType = request.queryValue(QStringLiteral("devType"));
    filter.startedFrom = started.from;
    filter.startedTo = started.to;
    const QString package = request.queryValue(QStringLiteral("packageId"));
    if (!package.isEmpty()) {
        bool ok = false;
        filter.packageId = package.toInt(&ok);
        if (!ok || filter.packageId <= 0)
            return RouteReplies::badRequest(QStringLiteral("packageId 须为正整数"));
    }
    const QString state = request.queryValue(QStringLiteral("state"));
    if (!state.isEmpty()) {
        const int index = stateNames().indexOf(state);
        if (index < 0)
            return RouteReplies::badRequest(
                QStringLiteral("state 须为以下之一：%1").arg(stateNames().join(", ")));
        filter.byState = true;
        filter.state = kStates[index];
    }
    const QString result = request.queryValue(QStringLiteral("result"));
    if (!result.isEmpty()) {
        const int index = resultNames().indexOf(result);
        if (index < 0)
            return RouteReplies::badRequest(
                QStringLiteral("result 须为以下之一：%1").arg(resultNames().join(", ")));
        filter.byResult = true;
        filter.result = static_cast<AttemptResult>(index);
    }
    QList<Tab_UpgradeAttempt::Row> rows;
    int total = 0;
    if (!Tab_UpgradeAttempt::list(filter, paging.offset, paging.limit, rows, total))
        return RouteReplies::databaseFailed();
    QJsonArray items;
    for (const Tab_UpgradeAttempt::Row& row : rows) items.append(UpgradeAttemptJson::row(row));
    return RouteReplies::ok(
        {{"total", total}, {"offset", paging.offset}, {"limit", paging.limit}, {"items", items}});
}

QJsonObject listDoc() {
    QJsonArray parameters{
        OperationDoc::queryParam("devSN", QJsonObject{{"type", "string"}}),
        OperationDoc::queryParam("devSNContains", QJsonObject{{"type", "string"}}),
        OperationDoc::queryParam("devType", QJsonObject{{"type", "string"}}),
        OperationDoc::queryParam("packageId", QJsonObject{{"type", "integer"}, {"example", 1}}),
        OperationDoc::queryParam("state",
                                 QJsonObject{{"type", "string"},
                                             {"enum", QJsonArray::fromStringList(stateNames())},
                                             {"example", "stalled"}}),
        OperationDoc::queryParam("result",
                                 QJsonObject{{"type", "string"},
                                             {"enum", QJsonArray::fromStringList(resultNames())},
                                             {"example", "notTaken"}}),
    };
    for (const QJsonValue& p : TimeRangeParams::parameters(QStringLiteral("started")))
        parameters.append(p);
    for (const QJsonValue& p : ListParams::parameters()) parameters.append(p);
    const QJsonObject page = OperationDoc::object(
        {{"total", QJsonObject{{"type", "integer"}}},
         {"offset", QJsonObject{{"type", "integer"}}},
         {"limit", QJsonObject{{"type", "integer"}}},
         {"items", OperationDoc::arrayOf(OperationDoc::ref("UpgradeAttempt"))}});
    return {{"description",
             "Newest first. An attempt without progress for UpgradeStallMinutes (config.ini) is "
             "stalled until progress comes again. devSN is a whole serial number; "
             "devSNContains a part of one (ASCII case ignored), found among the terminals in "
             "the device table."},
            {"parameters", parameters},
            {"responses", QJsonObject{{"200", OperationDoc::json("One page", page)},
                                      {"400", OperationDoc::error("A parameter is invalid")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}
}  // namespace

ApiGroup upgradeRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("upgrades");
    group.schemas = QJsonDocument(UpgradeAttemptJson::schemas()).toJson(QJsonDocument::Compact);
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/upgrades"), Role::Viewer, QStringLiteral("listUpgrades"),
         QStringLiteral("Upgrade attempts, kept after they finished or stalled"), listAttempts,
         OperationDoc::text(listDoc())},
    };
    return group;
}
