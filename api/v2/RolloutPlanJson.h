#pragma once

#include <QJsonObject>
#include <QVector>

#include "model/struRolloutPlan.h"
#include "upgrade/rollout/RolloutProgress.h"

// A rollout plan with how far each stage has got, as the v2 documents show it.
struct RolloutPlanView {
    struRolloutPlan plan;
    QVector<StageProgress> progress;  // one per stage
    int outside = 0;                  // terminals of the type no stage takes
};

class RolloutPlanJson {
  public:
    static QJsonObject plan(const RolloutPlanView& view);
    // The "RolloutPlan" and "RolloutStage" schemas, by name.
    static QJsonObject schemas();
};
