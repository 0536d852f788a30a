#pragma once

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include "api/v2/ApiTypes.h"
#include "model/struPackageInfo.h"
#include "model/struRolloutPlan.h"

// A rollout plan as an operator sends it: checked member by member, a misspelt member refused,
// and each filter stage resolved to the serial numbers of the package's type it takes now (so
// the stage keeps its terminals whatever they report later).
class RolloutPlanBody {
  public:
    static constexpr int kMaxStages = 20;
    static constexpr int kMaxListed = 100000;

    // listed pairs each listed serial number with its stage's position.
    static bool read(const QJsonObject& body, const struPackageInfo& package, struRolloutPlan& plan,
                     QList<QPair<QString, int>>& listed, QString& error);
    // The package the request's path names and the plan its body holds; failure says why not.
    static bool fromRequest(const ApiRequest& request, struPackageInfo& package,
                            struRolloutPlan& plan, QList<QPair<QString, int>>& listed,
                            ApiReply& failure);
    // The start time and windows alone (for a running plan), other members refused.
    static bool readSchedule(const QJsonObject& body, struRolloutPlan& plan, QString& error);
    static QJsonObject scheduleSchema();
    // The "RolloutPlanInput" schema, by name.
    static QJsonObject schemas();
    static QJsonObject example();
};
