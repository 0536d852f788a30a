#include "api/v2/RolloutPreviewRoutes.h"

#include <QJsonArray>

#include "api/v2/DeviceFilterParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/PackageRoutes.h"
#include "api/v2/RolloutPlanBody.h"
#include "api/v2/RouteReplies.h"
#include "upgrade/rollout/RolloutPreview.h"

namespace {
QJsonObject counts(const StagePreview& s) {
    return {{"members", s.members},
            {"online", s.online},
            {"offline", s.members - s.online},
            {"alreadyOnVersion", s.onVersion},
            {"wouldBeOffered", s.behind}};
}

ApiReply preview(const ApiRequest& request) {
    struPackageInfo package;
    struRolloutPlan plan;
    QList<QPair<QString, int>> listed;
    ApiReply failure;
    if (!RolloutPlanBody::fromRequest(request, package, plan, listed, failure)) return failure;
    QVector<StagePreview> stages;
    if (!RolloutPreview::count(plan, listed, package, stages))
        return RouteReplies::databaseFailed();
    QJsonArray perStage;
    StagePreview all;
    for (int i = 0; i < stages.size(); ++i) {
        all.members += stages[i].members;
        all.online += stages[i].online;
        if (i + 1 == stages.size()) break;
        QJsonObject stage = counts(stages[i]);
        stage.insert("position", i + 1);
        perStage.append(stage);
    }
    return RouteReplies::ok({{"terminals", all.members},
                             {"online", all.online},
                             {"offline", all.members - all.online},
                             {"stages", perStage},
                             {"outside", counts(stages.last())}});
}

QJsonObject integer(const char* description) {
    return {{"type", "integer"}, {"minimum", 0}, {"description", description}};
}

QJsonObject countsProperties() {
    return {{"members", integer("terminals of the package's type it takes")},
            {"online", integer("of them connected now")},
            {"offline", integer("of them not connected")},
            {"alreadyOnVersion",
             integer("of them reporting every component the package carries at its version")},
            {"wouldBeOffered",
             integer("of them behind the package: offered it once the stage is open")}};
}

QByteArray schemas() {
    QJsonObject stage = countsProperties();
    stage.insert("position", QJsonObject{{"type", "integer"}, {"minimum", 1}});
    const QJsonObject preview = OperationDoc::object(
        {{"terminals", integer("terminals of the package's type")},
         {"online", integer("of them connected now")},
         {"offline", integer("of them not connected")},
         {"stages", OperationDoc::arrayOf(OperationDoc::ref("RolloutStagePreview"))},
         {"outside", OperationDoc::ref("RolloutPreviewCounts")}});
    return OperationDoc::schemas(
        {QJsonObject{{"RolloutPlanPreview", preview},
                     {"RolloutStagePreview", OperationDoc::object(stage)},
                     {"RolloutPreviewCounts", OperationDoc::object(countsProperties())}},
         RolloutPlanBody::schemas(), DeviceFilterParams::schemas()});
}

QJsonObject previewDoc() {
    return {{"description",
             "Counts what the same body would take at PUT .../plan, stored nowhere: each stage's "
             "terminals as the rollout would place them, connected or not, already on the "
             "package's versions, and behind it; outside counts the terminals no stage takes."},
            {"parameters", QJsonArray{OperationDoc::pathParam("id", "package id", "1")}},
            {"requestBody", OperationDoc::jsonBody(OperationDoc::ref("RolloutPlanInput"),
                                                   RolloutPlanBody::example())},
            {"responses",
             QJsonObject{{"200", OperationDoc::json("What the plan would take",
                                                    OperationDoc::ref("RolloutPlanPreview"))},
                         {"400", OperationDoc::error("The plan is not valid")},
                         {"404", OperationDoc::error("No such package")},
                         {"500", OperationDoc::error("The database failed")}}}};
}
}  // namespace

ApiGroup rolloutPreviewRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("rollout plan");
    group.schemas = schemas();
    group.routes = {
        {"POST", QStringLiteral("/KORVA/v2/packages/{id}/plan/preview"), Role::Operator,
         QStringLiteral("previewRolloutPlan"),
         QStringLiteral("Count what a rollout plan would take without setting it"), preview,
         OperationDoc::text(previewDoc())},
    };
    return group;
}
