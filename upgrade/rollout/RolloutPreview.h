#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVector>

#include "model/struPackageInfo.h"
#include "model/struRolloutPlan.h"

// What a plan not yet stored would take: each stage's terminals of the package's type, as the
// rollout would place them, and how many of them the package would reach.
struct StagePreview {
    int members = 0;
    int online = 0;
    int onVersion = 0;  // every component the package carries equals the terminal's
    int behind = 0;     // a component of the package is newer: offered once the stage opens
};

class RolloutPreview {
  public:
    // listed: the plan's listed serial numbers with their stage's position. The last entry of
    // stages counts the terminals no stage takes.
    static bool count(const struRolloutPlan& plan, const QList<QPair<QString, int>>& listed,
                      const struPackageInfo& package, QVector<StagePreview>& stages);
};
