#include "api/v2/RolloutPlanRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include "api/auth/AuditLog.h"
#include "api/v2/DeviceFilterParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/PackageRoutes.h"
#include "api/v2/RolloutPlanBody.h"
#include "api/v2/RolloutPlanJson.h"
#include "api/v2/RouteReplies.h"
#include "api/v2/StallClock.h"
#include "upgrade/rollout/RolloutControl.h"
#include "upgrade/rollout/RolloutNotices.h"

namespace {
using Result = RolloutControl::Result;

ApiReply planOf(const struPackageInfo& package) {
    RolloutPlanView view;
    switch (RolloutControl::current(package, view.plan,
                                    static_cast<qint32>(QDateTime::currentSecsSinceEpoch()))) {
        case Tab_RolloutPlan::Result::Missing:
            return RouteReplies::notFound(QStringLiteral("该升级包没有发布计划"));
        case Tab_RolloutPlan::Result::Failed:
            return RouteReplies::databaseFailed();
        case Tab_RolloutPlan::Result::Done:
            break;
    }
    if (!RolloutProgress::count(view.plan, package, stalledBefore(), view.progress, view.outside))
        return RouteReplies::databaseFailed();
    return RouteReplies::ok(RolloutPlanJson::plan(view));
}

ApiReply getPlan(const ApiRequest& request) {
    struPackageInfo package;
    ApiReply failure;
    if (!storedPackage(request.params.value(QStringLiteral("id")), package, failure))
        return failure;
    return planOf(package);
}

// "1 (SN0001, ...), 1%, 10%, 100%; pause at 3 failures, 10%", for the audit trail.
QString planSummary(const struPackageInfo& package, const struRolloutPlan& plan) {
    QStringList stages;
    for (const struRolloutStage& stage : plan.stages)
        stages << (stage.sharePoints > 0 ? QStringLiteral("%1%").arg(stage.sharePoints / 100.0)
                                         : QStringLiteral("列出%1台").arg(stage.listed));
    return QStringLiteral("升级包 %1 (%2) 发布计划：%3；暂停条件：失败%4台、失败比例%5%")
        .arg(package.id)
        .arg(package.packageName, stages.join(QStringLiteral(", ")))
        .arg(plan.pauseAtFailures)
        .arg(plan.pauseAtFailurePercent);
}

ApiReply putPlan(const ApiRequest& request) {
    struPackageInfo package;
    struRolloutPlan plan;
    QList<QPair<QString, int>> listed;
    ApiReply failure;
    if (!RolloutPlanBody::fromRequest(request, package, plan, listed, failure)) return failure;
    if (!RolloutControl::replace(package, plan, listed, request.account))
        return RouteReplies::databaseFailed();
    request.audit(QStringLiteral("rollout_plan_set"), planSummary(package, plan));
    return planOf(package);
}

using Change = std::function<Result(const struPackageInfo&, QString&)>;

ApiReply change(const ApiRequest& request, const char* action, const Change& run) {
    struPackageInfo package;
    ApiReply failure;
    if (!storedPackage(request.params.value(QStringLiteral("id")), package, failure))
        return failure;
    QString summary;
    const qint32 at = static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
    struRolloutPlan before;
    struRolloutPlan after;
    const bool told = request.rolloutNotices &&
                      RolloutControl::current(package, before, at) == Tab_RolloutPlan::Result::Done;
    switch (run(package, summary)) {
        case Result::Done:
            request.audit(QLatin1String(action), summary);
            if (told &&
                RolloutControl::current(package, after, at) == Tab_RolloutPlan::Result::Done)
                request.rolloutNotices->changed(package, before, after);
            return planOf(package);
        case Result::NoPlan:
            return RouteReplies::notFound(QStringLiteral("该升级包没有发布计划"));
        case Result::Conflict:
            return ApiReply::error(
                409, QStringLiteral("conflict"),
                summary.isEmpty() ? QStringLiteral("发布计划刚被修改，请刷新后重试") : summary);
        case Result::Failed:
            break;
    }
    return RouteReplies::databaseFailed();
}

Result resume(const struPackageInfo& package, QString& summary) {
    return RolloutControl::resume(package, stalledBefore(), summary);
}

ApiReply pause(const ApiRequest& request) {
    return change(request, "rollout_pause", [&request](const struPackageInfo& p, QString& s) {
        return RolloutControl::pause(p, request.account, s);
    });
}

ApiReply schedule(const ApiRequest& request) {
    QJsonObject body;
    ApiReply failure;
    if (!RouteReplies::bodyObject(request, body, failure)) return failure;
    struRolloutPlan when;
    QString error;
    if (!RolloutPlanBody::readSchedule(body, when, error)) return RouteReplies::badRequest(error);
    return change(request, "rollout_schedule", [&when](const struPackageInfo& p, QString& s) {
        return RolloutControl::schedule(p, when.windows, when.startAt, s);
    });
}

QJsonObject planResponses(const QString& success) {
    return {{"200", OperationDoc::json(success, OperationDoc::ref("RolloutPlan"))},
            {"404", OperationDoc::error("No such package, or it has no plan")},
            {"500", OperationDoc::error("The database failed")}};
}

QJsonArray idParameter() {
    return QJsonArray{OperationDoc::pathParam("id", "package id", "1")};
}

QJsonObject getDoc() {
    return {{"description",
             "Counts of each stage over the terminals of the package's type; pause is set "
             "while the rollout is paused."},
            {"parameters", idParameter()},
            {"responses", planResponses("The plan with each stage's progress")}};
}

QJsonObject putDoc() {
    QJsonObject responses = planResponses("The plan, running from its first stage");
    responses.insert("400", OperationDoc::error("The plan is not valid"));
    return {{"description",
             "Replaces the package's plan; the rollout starts again from its first stage. "
             "Without a plan a package goes to every terminal of its type, as before. Another "
             "upload for the type starts the plan again from its first stage."},
            {"parameters", idParameter()},
            {"requestBody", OperationDoc::jsonBody(OperationDoc::ref("RolloutPlanInput"),
                                                   RolloutPlanBody::example())},
            {"responses", responses}};
}

QJsonObject changeDoc(const QString& description, const QString& conflict) {
    QJsonObject responses = planResponses("The plan after the change");
    responses.insert("409", OperationDoc::error(conflict));
    return {{"description", description}, {"parameters", idParameter()}, {"responses", responses}};
}

QJsonObject scheduleDoc() {
    QJsonObject doc = changeDoc(
        "The start time and maintenance windows of the plan, replaced without restarting it. "
        "Outside them no terminal is newly offered the package (reason outside_window); "
        "downloads under way go on and forced upgrades still get it.",
        "The rollout is cancelled, or was changed meanwhile");
    QJsonObject responses = doc.value("responses").toObject();
    responses.insert("400", OperationDoc::error("The schedule is not valid"));
    doc.insert("responses", responses);
    doc.insert("requestBody",
               OperationDoc::jsonBody(RolloutPlanBody::scheduleSchema(),
                                      QJsonObject{{"windows", QJsonArray{"01:00-05:00"}}}));
    return doc;
}

QByteArray schemas() {
    return OperationDoc::schemas(
        {RolloutPlanJson::schemas(), RolloutPlanBody::schemas(), DeviceFilterParams::schemas()});
}
}  // namespace

ApiGroup rolloutPlanRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("rollout plan");
    group.schemas = schemas();
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/packages/{id}/plan"), Role::Viewer,
         QStringLiteral("getRolloutPlan"),
         QStringLiteral("The package's rollout plan with each stage's progress"), getPlan,
         OperationDoc::text(getDoc())},
        {"PUT", QStringLiteral("/KORVA/v2/packages/{id}/plan"), Role::Operator,
         QStringLiteral("setRolloutPlan"), QStringLiteral("Set the package's rollout plan"),
         putPlan, OperationDoc::text(putDoc())},
        {"POST", QStringLiteral("/KORVA/v2/packages/{id}/plan/resume"), Role::Operator,
         QStringLiteral("resumeRolloutPlan"), QStringLiteral("Resume a paused rollout"),
         [](const ApiRequest& r) { return change(r, "rollout_resume", resume); },
         OperationDoc::text(
             changeDoc("New terminals of the open stages are offered the package again. The open "
                       "stage's failures so far are accepted: only later ones pause it again.",
                       "The rollout is not paused"))},
        {"POST", QStringLiteral("/KORVA/v2/packages/{id}/plan/pause"), Role::Operator,
         QStringLiteral("pauseRolloutPlan"), QStringLiteral("Pause a running rollout by hand"),
         pause,
         OperationDoc::text(
             changeDoc("No further terminal is offered the package until resumed, where it stands; "
                       "downloads under way go on and forced upgrades still get it.",
                       "The rollout is not running (already paused, or cancelled)"))},
        {"PUT", QStringLiteral("/KORVA/v2/packages/{id}/plan/schedule"), Role::Operator,
         QStringLiteral("scheduleRolloutPlan"),
         QStringLiteral("Set when the rollout may offer the package"), schedule,
         OperationDoc::text(scheduleDoc())},
        {"POST", QStringLiteral("/KORVA/v2/packages/{id}/plan/advance"), Role::Operator,
         QStringLiteral("advanceRolloutPlan"), QStringLiteral("Open the next stage now"),
         [](const ApiRequest& r) { return change(r, "rollout_advance", RolloutControl::advance); },
         OperationDoc::text(changeDoc("Whatever its minimum time and success share; a paused "
                                      "rollout stays paused.",
                                      "Every stage is open, or the rollout is cancelled"))},
        {"POST", QStringLiteral("/KORVA/v2/packages/{id}/plan/cancel"), Role::Operator,
         QStringLiteral("cancelRolloutPlan"), QStringLiteral("Cancel the rollout"),
         [](const ApiRequest& r) { return change(r, "rollout_cancel", RolloutControl::cancel); },
         OperationDoc::text(changeDoc("No further terminal is offered the package; forced "
                                      "upgrades still get it, and downloads under way go on.",
                                      "The rollout is already cancelled"))},
    };
    return group;
}
