#include "api/v2/RolloutRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include "api/v2/DeviceJson.h"
#include "api/v2/ListParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/PackageJson.h"
#include "api/v2/PackageRoutes.h"
#include "api/v2/RouteReplies.h"
#include "api/v2/StallClock.h"
#include "api/v2/UpgradeDecisionJson.h"
#include "db/DeviceListQuery.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_RetryRelease.h"
#include "db/Tab_UpgradeDecision.h"
#include "upgrade/rollout/RolloutBucket.h"
#include "upgrade/rollout/RolloutControl.h"
#include "upgrade/rollout/RolloutPlanRules.h"
#include "upgrade/rollout/RolloutSchedule.h"
#include "upgrade/rollout/RolloutState.h"

namespace {
struct Rollout {
    struPackageInfo package;
    RolloutRules rules;
    bool planned = false;
    struRolloutPlan plan;
};

// The package and the rules its terminals are judged by: the service's mode, whether a report
// could be handed the file at all, and the package's rollout plan.
bool rolloutOf(const ApiRequest& request, Rollout& rollout, ApiReply& failure) {
    if (!storedPackage(request.params.value(QStringLiteral("id")), rollout.package, failure))
        return false;
    const struLocalParam param = request.parameters();
    rollout.rules.manualMode = param.ManualMode == 1;
    rollout.rules.packageFileExists = packageFileStored(rollout.package, param.PackageDir);
    QList<Tab_RetryRelease::Held> held;
    if (param.UpgradeRetryLimit > 0 &&
        !Tab_RetryRelease::held(rollout.package.id, rollout.package.packageName,
                                static_cast<int>(param.UpgradeRetryLimit), held)) {
        failure = RouteReplies::databaseFailed();
        return false;
    }
    for (const Tab_RetryRelease::Held& h : held) rollout.rules.heldAtRetryLimit.insert(h.devSN);
    switch (RolloutControl::current(rollout.package, rollout.plan,
                                    static_cast<qint32>(QDateTime::currentSecsSinceEpoch()))) {
        case Tab_RolloutPlan::Result::Failed:
            failure = RouteReplies::databaseFailed();
            return false;
        case Tab_RolloutPlan::Result::Missing:
            return true;
        case Tab_RolloutPlan::Result::Done:
            break;
    }
    rollout.planned = true;
    const bool inWindow = RolloutSchedule::allows(rollout.plan, QDateTime::currentDateTime());
    rollout.rules.planAllows = [&rollout, inWindow](const RolloutQuery::Terminal& t) {
        return inWindow &&
               RolloutPlanRules::offers(
                   rollout.plan, RolloutPlanRules::stageOf(
                                     rollout.plan, rolloutBucket(rollout.package, t.device.devSN),
                                     t.listedPosition));
    };
    return true;
}

// Every terminal of the package's type with its number: alike ones as one without a plan, one
// by one with a plan (its stage depends on the serial number) or a terminal held at the retry
// limit.
bool visitTerminals(const Rollout& rollout,
                    const std::function<void(const RolloutQuery::Terminal&, int)>& visit) {
    if (!rollout.planned && rollout.rules.heldAtRetryLimit.isEmpty())
        return RolloutQuery::groups(rollout.package, stalledBefore(), visit);
    return RolloutQuery::forEach(
        rollout.package, stalledBefore(),
        [&visit](const RolloutQuery::Terminal& terminal) { visit(terminal, 1); }, true);
}

QStringList stateNames() {
    QStringList names;
    for (int i = 0; i < kRolloutStateCount; ++i)
        names << rolloutStateName(static_cast<RolloutState>(i));
    return names;
}

ApiReply counts(const ApiRequest& request) {
    Rollout rollout;
    ApiReply failure;
    if (!rolloutOf(request, rollout, failure)) return failure;
    int byState[kRolloutStateCount] = {};
    int total = 0;
    if (!visitTerminals(rollout, [&](const RolloutQuery::Terminal& terminal, int count) {
            byState[static_cast<int>(rolloutState(terminal, rollout.package, rollout.rules))] +=
                count;
            total += count;
        }))
        return RouteReplies::databaseFailed();
    QJsonObject countsJson;
    for (int i = 0; i < kRolloutStateCount; ++i)
        countsJson.insert(rolloutStateName(static_cast<RolloutState>(i)), byState[i]);
    QList<QPair<QString, int>> decided;
    if (!Tab_UpgradeDecision::countByReason(rollout.package.deviceType, decided))
        return RouteReplies::databaseFailed();
    QJsonObject reasons;
    for (const QString& code : UpgradeDecisionJson::reasonCodes()) reasons.insert(code, 0);
    for (const auto& count : decided) reasons.insert(count.first, count.second);
    return RouteReplies::ok({{"package", PackageJson::row(rollout.package)},
                             {"manualMode", rollout.rules.manualMode},
                             {"planned", rollout.planned},
                             {"total", total},
                             {"counts", countsJson},
                             {"reasons", reasons}});
}

ApiReply terminalsInState(const ApiRequest& request) {
    RolloutState wanted = RolloutState::OnVersion;
    if (!rolloutStateFromName(request.params.value(QStringLiteral("state")), wanted))
        return RouteReplies::notFound(QStringLiteral("没有这种状态"));
    ListParams paging;
    QString error;
    if (!paging.read(request, error)) return RouteReplies::badRequest(error);
    Rollout rollout;
    ApiReply failure;
    if (!rolloutOf(request, rollout, failure)) return failure;

    DeviceFilter page;
    page.bySerials = true;
    int total = 0;
    if (!RolloutQuery::forEach(
            rollout.package, stalledBefore(),
            [&](const RolloutQuery::Terminal& terminal) {
                if (rolloutState(terminal, rollout.package, rollout.rules) != wanted) return;
                if (total >= paging.offset && page.serials.size() < paging.limit)
                    page.serials << terminal.device.devSN;
                ++total;
            },
            rollout.planned))
        return RouteReplies::databaseFailed();

    QJsonArray items;
    if (!page.serials.isEmpty()) {
        DeviceListQuery::Sort bySerial;
        bySerial.column = Tab_DeviceInfo::columns().indexOf(QStringLiteral("devSN"));
        DeviceListQuery::Page all;
        all.limit = page.serials.size();
        QList<DeviceListRow> rows;
        bool more = false;
        if (!DeviceListQuery::page(page, bySerial, all, rows, more))
            return RouteReplies::databaseFailed();
        for (const DeviceListRow& row : rows) items.append(DeviceJson::row(row, request.role));
    }
    return RouteReplies::ok({{"state", rolloutStateName(wanted)},
                             {"total", total},
                             {"offset", paging.offset},
                             {"limit", paging.limit},
                             {"items", items}});
}

QJsonObject countsDoc() {
    QJsonObject perState;
    for (const QString& name : stateNames())
        perState.insert(name, QJsonObject{{"type", "integer"}});
    QJsonObject perReason;
    for (const QString& code : UpgradeDecisionJson::reasonCodes())
        perReason.insert(code, QJsonObject{{"type", "integer"}});
    QJsonObject reasons = OperationDoc::object(perReason);
    reasons.insert("description",
                   "per reason code (see UpgradeDecision), the terminals of the package's type "
                   "whose last report was decided so");
    const QJsonObject body = OperationDoc::object(
        {{"package", OperationDoc::ref("Package")},
         {"manualMode", QJsonObject{{"type", "boolean"}}},
         {"planned", QJsonObject{{"type", "boolean"}, {"description", "it has a rollout plan"}}},
         {"total", QJsonObject{{"type", "integer"},
                               {"description", "terminals of the package's device type"}}},
         {"counts", OperationDoc::object(perState)},
         {"reasons", reasons}});
    return {{"description",
             "Each terminal of the package's type in one state: downloading or stalled (its "
             "current attempt is for this package and open), installing (reported 100, still "
             "reports older versions) or done; without such an attempt onVersion (nothing newer, "
             "not forced), offline, wouldUpgrade (its next report gets this package: forced, or "
             "a newer component outside manual mode where the rollout plan lets it) or held."},
            {"parameters", QJsonArray{OperationDoc::pathParam("id", "package id", "1")}},
            {"responses", QJsonObject{{"200", OperationDoc::json("Counts by state", body)},
                                      {"404", OperationDoc::error("No such package")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject terminalsDoc() {
    QJsonArray parameters{
        OperationDoc::pathParam("id", "package id", "1"),
        QJsonObject{{"name", "state"},
                    {"in", "path"},
                    {"required", true},
                    {"schema", QJsonObject{{"type", "string"},
                                           {"enum", QJsonArray::fromStringList(stateNames())}}},
                    {"example", "wouldUpgrade"}},
    };
    for (const QJsonValue& p : ListParams::parameters()) parameters.append(p);
    const QJsonObject body =
        OperationDoc::object({{"state", QJsonObject{{"type", "string"}}},
                              {"total", QJsonObject{{"type", "integer"}}},
                              {"offset", QJsonObject{{"type", "integer"}}},
                              {"limit", QJsonObject{{"type", "integer"}}},
                              {"items", OperationDoc::arrayOf(OperationDoc::ref("Device"))}});
    return {{"description", "By serial number."},
            {"parameters", parameters},
            {"responses", QJsonObject{{"200", OperationDoc::json("One page", body)},
                                      {"400", OperationDoc::error("A parameter is invalid")},
                                      {"404", OperationDoc::error("No such package or state")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}

QByteArray schemas() {
    return OperationDoc::schemas(
        {DeviceJson::schemas(), PackageJson::schemas(), UpgradeDecisionJson::schemas()});
}
}  // namespace

ApiGroup rolloutRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("rollout");
    group.schemas = schemas();
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/packages/{id}/rollout"), Role::Viewer,
         QStringLiteral("getRolloutCounts"),
         QStringLiteral("Terminals of the package's type by rollout state"), counts,
         OperationDoc::text(countsDoc())},
        {"GET", QStringLiteral("/KORVA/v2/packages/{id}/rollout/{state}"), Role::Viewer,
         QStringLiteral("listRolloutDevices"), QStringLiteral("The terminals of one rollout state"),
         terminalsInState, OperationDoc::text(terminalsDoc())},
    };
    return group;
}
