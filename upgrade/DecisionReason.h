#pragma once

#include <QString>

// Why a report was or was not offered its type's package; stored and shown by code.
enum class DecisionReason {
    Forced,
    NewerComponent,
    NoPackage,
    PackageFileMissing,
    ManualMode,
    NotNewer,
    NotInOpenStage,
    RolloutPaused,
    RolloutCancelled,
    RolloutUnavailable,
    IdentityConflict,  // in older rows only: an impostor's report leaves the decision alone
    OutsideWindow,
    RetryLimit,
};
constexpr int kDecisionReasonCount = 13;

const char* decisionReasonCode(DecisionReason reason);
// One line for the API document.
const char* decisionReasonMeaning(DecisionReason reason);
