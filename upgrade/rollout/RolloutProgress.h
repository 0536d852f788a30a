#pragma once

#include <QVector>

#include "model/struPackageInfo.h"
#include "model/struRolloutPlan.h"

// How far each stage of a plan has got, counted over the terminals of the package's type. A
// terminal counts once: succeeded when any of its attempts for the package succeeded, else
// failed when one reverted or its current one stalled; waiting when it never attempted and
// is behind the package.
struct StageProgress {
    int members = 0;
    int attempted = 0;
    int succeeded = 0;
    int failed = 0;
    int waiting = 0;
};

class RolloutProgress {
  public:
    // One entry per stage, in order; outside counts the terminals no stage takes.
    static bool count(const struRolloutPlan& plan, const struPackageInfo& package,
                      qint32 stalledBefore, QVector<StageProgress>& stages, int& outside);
};
