#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struRolloutPlan.h"

// Tab_RolloutPlan with Tab_RolloutStage and Tab_RolloutMember: each package's rollout plan, its
// stages and the serial numbers its listed stages name. Holds no state; every operation borrows
// a pooled connection. Changes of state from several threads (the supervisor, operators) meet
// through the conditional writes of change(); only a new plan replaces whatever is there.
class Tab_RolloutPlan {
  public:
    enum class Result { Done, Missing, Failed };

    static const RecordColumns<struRolloutPlan>& planColumns();
    static const RecordColumns<struRolloutStage>& stageColumns();

    // The plan with its stages; Missing when the package has none.
    static Result load(qint32 packageId, struRolloutPlan& plan);
    // Replaces the package's plan, stages and listed serial numbers (serial number, position;
    // the first listing of one wins) in one transaction.
    static bool replace(const struRolloutPlan& plan, const QList<QPair<QString, int>>& listed);
    // Writes after (the plan row and its stages' opening times) only while the stored plan is
    // still before: same upload, state, open stages and schedule. Missing when it moved on
    // meanwhile.
    static Result change(const struRolloutPlan& before, const struRolloutPlan& after);
    // The position of the first listed stage naming the serial number, 0 for none.
    static bool listedPosition(qint32 packageId, const QString& devSN, int& position);
    // Every package with a plan.
    static bool packageIds(QList<qint32>& packageIds);
};
