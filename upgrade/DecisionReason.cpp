#include "upgrade/DecisionReason.h"

namespace {
const struct {
    const char* code;
    const char* meaning;
} kReasons[kDecisionReasonCount] = {
    {"forced", "offered: an operator asked for the upgrade whatever the versions"},
    {"newer_component", "offered: a component of the package is newer (detail names it)"},
    {"no_package", "no package for the device type"},
    {"package_file_missing", "the package's file is not there"},
    {"manual_mode", "ManualMode=1: only forced upgrades are offered"},
    {"not_newer", "no component is newer (detail: the version messages, in order)"},
    {"not_in_open_stage", "the rollout plan has not reached the terminal's stage"},
    {"rollout_paused", "the rollout is paused (detail: why)"},
    {"rollout_cancelled", "the rollout is cancelled; only forced upgrades get the package"},
    {"rollout_unavailable", "the rollout plan could not be read; nothing offered meanwhile"},
    {"identity_conflict",
     "in older rows only: an impostor refused (now recorded apart, see IdentityConflict)"},
    {"outside_window",
     "the rollout plan's start time or maintenance windows hold new offers back (detail: which)"},
    {"retry_limit",
     "the package's installs did not take on the terminal as often as the retry limit; held "
     "until an operator releases it"},
};
}  // namespace

const char* decisionReasonCode(DecisionReason reason) {
    return kReasons[static_cast<int>(reason)].code;
}

const char* decisionReasonMeaning(DecisionReason reason) {
    return kReasons[static_cast<int>(reason)].meaning;
}
