#pragma once

#include <functional>

#include <QString>

#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"
#include "upgrade/DecisionReason.h"
#include "upgrade/RolloutVerdict.h"

// What a device report is answered with, and why.
struct UpgradeDecision {
    enum class Answer { Upgrade, NoUpgrade, PendingTasks };
    Answer answer = Answer::NoUpgrade;
    DecisionReason reason = DecisionReason::NoPackage;
    QString detail;

    bool offered() const { return answer == Answer::Upgrade; }
};

// What a report is decided on.
struct DecisionFacts {
    bool registered = false;
    const struDeviceInfo* stored = nullptr;  // the terminal's row (its forced flag)
    const struDeviceInfo* report = nullptr;  // the versions it reports
    bool hasPackage = false;
    const struPackageInfo* package = nullptr;
    // Its file is still as uploaded and its address fits the answer (checked by the caller,
    // which logs why not).
    bool packageServable = false;
    bool manualMode = false;
};

// The upgrade decision of a report: no package or no file, then the forced flag, manual mode,
// the version rule (logging the message of each component that is not newer, in the order they
// are compared) and last the package's rollout plan, asked only when a component is newer.
UpgradeDecision decideUpgrade(const DecisionFacts& facts,
                              const std::function<RolloutVerdict()>& rollout);
