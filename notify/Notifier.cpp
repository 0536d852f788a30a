#include "notify/Notifier.h"

namespace {
constexpr const char* kNames[kNotifyEventCount] = {
    "rollout_paused",         "stage_opened",      "plan_finished",
    "failure_threshold_near", "terminals_stalled", "identity_conflict",
};
}  // namespace

const char* notifyEventName(NotifyEvent event) {
    return kNames[static_cast<int>(event)];
}

bool notifyEventFromName(const QString& name, NotifyEvent& event) {
    for (int i = 0; i < kNotifyEventCount; ++i) {
        if (name == QLatin1String(kNames[i])) {
            event = static_cast<NotifyEvent>(i);
            return true;
        }
    }
    return false;
}
