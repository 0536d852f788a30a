#include "api/v2/RolloutPlanJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include "api/v2/JsonRecord.h"
#include "api/v2/OperationDoc.h"
#include "upgrade/rollout/RolloutSchedule.h"

namespace {
struct StageView {
    const struRolloutStage* stage;
    StageProgress progress;
    bool open;
};

QString kindOf(const struRolloutStage& stage) {
    if (stage.sharePoints > 0) return QStringLiteral("percent");
    return stage.filterJson.isEmpty() ? QStringLiteral("serials") : QStringLiteral("filter");
}

const JsonFields<StageView>& stageFields() {
    using F = JsonField<StageView>;
    static const JsonFields<StageView> list{
        F{"position", "integer", "1 for the first stage",
          [](const StageView& v) { return QJsonValue(v.stage->position); }},
        F{"kind", "string", "percent, serials or filter",
          [](const StageView& v) { return QJsonValue(kindOf(*v.stage)); }},
        F{"percent", "number", "the share a percent stage reaches; 0 for the others",
          [](const StageView& v) { return QJsonValue(v.stage->sharePoints / 100.0); }},
        F{"listed", "integer", "serial numbers listed (or taken by the filter)",
          [](const StageView& v) { return QJsonValue(v.stage->listed); }},
        F{"filter", "object", "the filter a filter stage was taken with",
          [](const StageView& v) {
              return v.stage->filterJson.isEmpty()
                         ? QJsonValue()
                         : QJsonValue(
                               QJsonDocument::fromJson(v.stage->filterJson.toUtf8()).object());
          },
          true},
        F{"minMinutes", "number", "the least time the stage stays the open one",
          [](const StageView& v) { return QJsonValue(v.stage->minSeconds / 60.0); }},
        F{"successPercent", "integer", "succeeded of attempted to open the next stage",
          [](const StageView& v) { return QJsonValue(v.stage->successPercent); }},
        F{"open", "boolean", "its terminals may be offered the package",
          [](const StageView& v) { return QJsonValue(v.open); }},
        F{"openedAt", "integer", "seconds since the epoch; 0 while closed",
          [](const StageView& v) { return QJsonValue(v.stage->openedAt); }},
        F{"members", "integer", "terminals of the type in this stage",
          [](const StageView& v) { return QJsonValue(v.progress.members); }},
        F{"attempted", "integer", "members handed the package at least once",
          [](const StageView& v) { return QJsonValue(v.progress.attempted); }},
        F{"succeeded", "integer", "members that reported the package's versions after 100",
          [](const StageView& v) { return QJsonValue(v.progress.succeeded); }},
        F{"failed", "integer",
          "members whose install did not take (old versions after 100) or whose current "
          "attempt stalled, and none succeeded",
          [](const StageView& v) { return QJsonValue(v.progress.failed); }},
        F{"inProgress", "integer", "attempted, neither succeeded nor failed",
          [](const StageView& v) {
              return QJsonValue(v.progress.attempted - v.progress.succeeded - v.progress.failed);
          }},
        F{"waiting", "integer", "behind the package and never attempted",
          [](const StageView& v) { return QJsonValue(v.progress.waiting); }},
    };
    return list;
}

const JsonFields<RolloutPlanView>& planFields() {
    using F = JsonField<RolloutPlanView>;
    static const JsonFields<RolloutPlanView> list{
        F{"packageId", "integer", QString(),
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.packageId); }},
        F{"packageName", "string", "the upload the plan runs for",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.packageName); }},
        F{"state", "string", "running, paused or cancelled",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.state); }},
        F{"openStages", "integer", "stages 1 to this are open",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.openStages); }},
        F{"pauseAtFailures", "integer", "0: no count threshold",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.pauseAtFailures); }},
        F{"pauseAtFailurePercent", "integer", "0: no share threshold",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.pauseAtFailurePercent); }},
        F{"failuresAccepted", "integer",
          "the open stage's failures when an operator resumed; only later ones pause again",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.failuresAccepted); }},
        F{"pause", "object", "while paused: when (seconds since the epoch) and why",
          [](const RolloutPlanView& v) {
              if (v.plan.state != QLatin1String(kRolloutPaused)) return QJsonValue();
              return QJsonValue(
                  QJsonObject{{"at", v.plan.pausedAt}, {"reason", v.plan.pauseReason}});
          },
          true},
        F{"createdAt", "integer", QString(),
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.createdAt); }},
        F{"createdBy", "string", "empty with logins off",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.createdBy); }},
        F{"changedAt", "integer", "the last change of state",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.changedAt); }},
        F{"windows", "array",
          "maintenance windows (HH:MM-HH:MM, the service's time zone); empty: any time",
          [](const RolloutPlanView& v) {
              return QJsonValue(QJsonArray::fromStringList(RolloutSchedule::texts(v.plan.windows)));
          }},
        F{"startAt", "integer",
          "no terminal newly offered before (seconds since the epoch); 0: none",
          [](const RolloutPlanView& v) { return QJsonValue(v.plan.startAt); }},
        F{"inWindow", "boolean", "the start time and windows let terminals be offered now",
          [](const RolloutPlanView& v) {
              return QJsonValue(RolloutSchedule::allows(v.plan, QDateTime::currentDateTime()));
          }},
        F{"outside", "integer", "terminals of the type that no stage takes",
          [](const RolloutPlanView& v) { return QJsonValue(v.outside); }},
        F{"stages", "array", QString(),
          [](const RolloutPlanView& v) {
              QJsonArray stages;
              for (int i = 0; i < v.plan.stages.size(); ++i) {
                  const StageView stage{&v.plan.stages.at(i), v.progress.value(i),
                                        i < v.plan.openStages};
                  stages.append(recordJson(stageFields(), stage));
              }
              return QJsonValue(stages);
          }},
    };
    return list;
}
}  // namespace

QJsonObject RolloutPlanJson::plan(const RolloutPlanView& view) {
    return recordJson(planFields(), view);
}

QJsonObject RolloutPlanJson::schemas() {
    QJsonObject plan = recordSchema(planFields());
    QJsonObject properties = plan.value("properties").toObject();
    properties.insert(
        "state",
        QJsonObject{{"type", "string"},
                    {"enum", QJsonArray{kRolloutRunning, kRolloutPaused, kRolloutCancelled}}});
    properties.insert("stages", OperationDoc::arrayOf(OperationDoc::ref("RolloutStage")));
    QJsonObject windows = OperationDoc::arrayOf({{"type", "string"}});
    windows.insert("description", properties.value("windows")["description"]);
    properties.insert("windows", windows);
    QJsonObject pause = OperationDoc::object(
        {{"at", QJsonObject{{"type", "integer"}}}, {"reason", QJsonObject{{"type", "string"}}}});
    pause.insert("nullable", true);
    pause.insert("description", properties.value("pause").toObject().value("description"));
    properties.insert("pause", pause);
    plan.insert("properties", properties);
    // A filter stage gives back the filter the plan was set with, which the filter language
    // read; the other stages give null.
    QJsonObject stage = recordSchema(stageFields());
    QJsonObject stageProperties = stage.value("properties").toObject();
    stageProperties.insert(
        "filter", OperationDoc::refOrNull(
                      "DeviceFilter",
                      stageProperties.value("filter").toObject().value("description").toString()));
    stage.insert("properties", stageProperties);
    return QJsonObject{{"RolloutPlan", plan}, {"RolloutStage", stage}};
}
