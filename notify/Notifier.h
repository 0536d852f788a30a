#pragma once

#include <QJsonObject>
#include <QString>

// What an admin may be told about, by the name receivers see.
enum class NotifyEvent {
    RolloutPaused,
    StageOpened,
    PlanFinished,
    FailureThresholdNear,
    TerminalsStalled,
    IdentityConflict,
};
constexpr int kNotifyEventCount = 6;

const char* notifyEventName(NotifyEvent event);
bool notifyEventFromName(const QString& name, NotifyEvent& event);

// Where the parts of the service report what an admin may want to hear about. notify() is
// called on whatever thread the event happened and returns at once: telling is someone else's
// job, and a receiver that is slow or gone must not slow the one who reports.
class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void notify(NotifyEvent event, const QJsonObject& data) = 0;
};
