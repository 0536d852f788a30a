#pragma once

#include <functional>

#include <QSet>

#include "db/RolloutQuery.h"
#include "model/struPackageInfo.h"

// Where one terminal of a package's device type stands in that package's rollout.
enum class RolloutState {
    OnVersion,     // no attempt for this package, nothing newer in it, not forced
    WouldUpgrade,  // connected; its next report would be answered with this package
    Held,          // connected and behind, but manual mode, the rollout plan (its stage is not
                   // open, the plan is paused or cancelled or outside its windows), the retry
                   // limit or a missing package file holds it
    Downloading,   // attempt open and progressing
    Installing,    // reported 100, not yet reporting the new versions
    Done,          // reported 100 and now reports them
    Stalled,       // attempt open, silent for the stall time
    Offline,       // behind or forced, and not connected
};
constexpr int kRolloutStateCount = 8;

const char* rolloutStateName(RolloutState state);
bool rolloutStateFromName(const QString& name, RolloutState& state);

struct RolloutRules {
    bool manualMode = false;
    bool packageFileExists = true;
    // With a rollout plan: whether the plan lets the terminal be offered the package now.
    std::function<bool(const RolloutQuery::Terminal&)> planAllows;
    // Serial numbers held back at the retry limit.
    QSet<QString> heldAtRetryLimit;
};

// The upgrade decision of a report (forced flag, then manual mode, then the version rule and the
// rollout plan) applied to what is stored about the terminal.
RolloutState rolloutState(const RolloutQuery::Terminal& terminal, const struPackageInfo& package,
                          const RolloutRules& rules);
