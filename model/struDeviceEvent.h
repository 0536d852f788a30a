#pragma once

#include <QString>

// One event of a terminal's timeline: the row of Tab_DeviceEvent.
struct struDeviceEvent {
    qint64 id = 0;
    QString devSN;
    qint32 at = 0;  // seconds since the epoch
    QString kind;   // one of the kEvent names below
    QString detail;
};

constexpr const char* kEventConnected = "connected";
constexpr const char* kEventDisconnected = "disconnected";
constexpr const char* kEventRegistered = "registered";
constexpr const char* kEventReported = "reported";  // detail: what changed
constexpr const char* kEventDecided = "decided";
constexpr const char* kEventCommandSet = "command_set";
constexpr const char* kEventCommandSent = "command_sent";
constexpr const char* kEventCommandResult = "command_result";
constexpr const char* kEventFileRequested = "file_requested";
constexpr const char* kEventFileArrived = "file_arrived";
constexpr const char* kEventUpgradeStarted = "upgrade_started";
constexpr const char* kEventUpgradeCompleted = "upgrade_completed";
constexpr const char* kEventUpgradeOutcome = "upgrade_outcome";
constexpr const char* kEventPinned = "pinned";
constexpr const char* kEventPinReleased = "pin_released";
