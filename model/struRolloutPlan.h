#pragma once

#include <QList>
#include <QString>

// One stage of a rollout plan: the row of Tab_RolloutStage. Stages are cumulative: while stage n
// is open, the terminals of stages 1..n may be offered the package.
struct struRolloutStage {
    qint32 packageId = 0;
    qint32 position = 0;  // 1 for the first stage
    // Of kRolloutBuckets: the type's terminals up to this share, counted from the first stage;
    // 0 for a stage of listed serial numbers.
    qint32 sharePoints = 0;
    QString filterJson;  // the device filter the list was taken with, as JSON; empty for a list
    qint32 listed = 0;   // serial numbers listed
    qint32 minSeconds = 0;
    qint32 successPercent = 100;  // succeeded of attempted, to open the next stage by itself
    qint32 openedAt = 0;          // seconds since the epoch; 0 while closed
};

// A package's rollout plan and how far it has got: the row of Tab_RolloutPlan with its stages.
struct struRolloutPlan {
    qint32 packageId = 0;
    QString packageName;  // the upload the plan's progress belongs to
    QString state;        // kRolloutRunning, kRolloutPaused or kRolloutCancelled
    qint32 openStages = 1;
    qint32 pauseAtFailures = 0;        // failures in the open stage that pause; 0 for none
    qint32 pauseAtFailurePercent = 0;  // failed of attempted that pauses; 0 for none
    qint32 failuresAccepted = 0;       // the open stage's failures when an operator resumed
    qint32 pausedAt = 0;
    QString pauseReason;
    qint32 createdAt = 0;
    QString createdBy;
    qint32 changedAt = 0;
    // When terminals may newly be offered the package: from startAt (seconds since the epoch, 0
    // for at once) and within one of the time-of-day windows, "01:00-05:00" separated by commas
    // in the service's time zone (empty: at any time of day).
    QString windows;
    qint32 startAt = 0;
    QList<struRolloutStage> stages;  // by position
};

constexpr int kRolloutBuckets = 10000;
constexpr const char* kRolloutRunning = "running";
constexpr const char* kRolloutPaused = "paused";
constexpr const char* kRolloutCancelled = "cancelled";
