#pragma once

#include <QString>

// One upgrade handed to a terminal: the row of Tab_UpgradeAttempt. Times are seconds since the
// epoch, 0 for not yet.
struct struUpgradeAttempt {
    qint32 id = 0;
    QString devSN;
    QString devType;
    qint32 packageId = 0;
    QString packageName;
    // The terminal's versions when the upgrade was handed out.
    QString fromAppVersion;
    QString fromMcuVersion;
    QString fromFourGVersion;
    QString fromGnssVersion;
    QString fromSmartModule;
    // The terminal's last completion time then, given back to it when this upgrade reverted.
    qint32 fromCompletionTime = 0;
    QString url;
    qint32 startedAt = 0;
    qint32 lastProgress = 0;  // percent
    qint32 lastProgressAt = 0;
    qint32 completedAt = 0;
    bool isCurrent = true;  // the terminal's newest attempt
    // Judged at the first report after 100 on a later connection: kOutcomeSucceeded when it
    // reports the package's versions, kOutcomeReverted when it is still behind; '' until then.
    QString outcome;
    qint32 outcomeAt = 0;
};

constexpr const char* kOutcomeSucceeded = "succeeded";
constexpr const char* kOutcomeReverted = "reverted";

// Where an attempt stands. A terminal that reported no progress for the stall time counts as
// stalled; one whose newer attempt started before this one ended is superseded. One that
// reported 100 is completed unless it came back on the versions it had: reverted.
enum class UpgradeAttemptState { Running, Stalled, Completed, Superseded, Reverted };

inline const char* upgradeAttemptStateName(UpgradeAttemptState state) {
    switch (state) {
        case UpgradeAttemptState::Running:
            return "running";
        case UpgradeAttemptState::Stalled:
            return "stalled";
        case UpgradeAttemptState::Completed:
            return "completed";
        case UpgradeAttemptState::Reverted:
            return "reverted";
        case UpgradeAttemptState::Superseded:
            break;
    }
    return "superseded";
}

// How an attempt ended, for the operator: succeeded; notTaken (reported 100, came back on the
// old versions); stalled; abandoned (given up before 100, and the terminal started the same
// upload again); superseded (another upload took its place before 100). None while it runs or
// waits for its first report after 100.
enum class AttemptResult { Succeeded, NotTaken, Stalled, Abandoned, Superseded };
constexpr int kAttemptResultCount = 5;

inline const char* attemptResultName(AttemptResult result) {
    static const char* const names[kAttemptResultCount] = {"succeeded", "notTaken", "stalled",
                                                           "abandoned", "superseded"};
    return names[static_cast<int>(result)];
}
