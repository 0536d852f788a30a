#pragma once

#include <QString>

#include "model/struRolloutPlan.h"
#include "upgrade/rollout/RolloutProgress.h"

// The rules of a staged rollout over a plan's stored state: which stage takes a terminal, when
// the open stage pauses or makes way for the next, and what each change of state writes.
class RolloutPlanRules {
  public:
    // The stage (from 1) that takes a terminal: the first that lists it or whose share its
    // bucket falls below; 0 when none does.
    static int stageOf(const struRolloutPlan& plan, int bucket, int listedPosition);
    // Whether the plan lets a terminal of that stage be offered the package now.
    static bool offers(const struRolloutPlan& plan, int stage);

    enum class Step { None, Pause, Advance };
    // What the supervisor does with a running plan, judged by its open stage: pause when the
    // failures since the last resume reach a threshold; otherwise open the next stage once the
    // minimum time has passed and the success share is reached (or, without attempts, no
    // member waits for the package). reason describes a pause.
    static Step next(const struRolloutPlan& plan, const StageProgress& open, qint32 now,
                     QString& reason);

    // Whether a running plan's open stage has come within kNearPausePercent of a pause threshold
    // without reaching it.
    static constexpr int kNearPausePercent = 80;
    static bool nearPause(const struRolloutPlan& plan, const StageProgress& open);
    // Whether a running plan has nothing left to do: every stage open, no member waiting for the
    // package and no attempt still under way.
    static bool finished(const struRolloutPlan& plan, const QVector<StageProgress>& stages);

    // The plan after each change of state.
    // Running from the first stage for the given upload: a new plan, or another upload.
    static struRolloutPlan started(struRolloutPlan plan, const QString& packageName, qint32 now);
    static struRolloutPlan advanced(struRolloutPlan plan, qint32 now);
    static struRolloutPlan paused(struRolloutPlan plan, qint32 now, const QString& reason);
    // The open stage's failures so far are accepted: only later ones pause again.
    static struRolloutPlan resumed(struRolloutPlan plan, qint32 now, int failuresNow);
    static struRolloutPlan cancelled(struRolloutPlan plan, qint32 now);
};
