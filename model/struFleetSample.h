#pragma once

#include <QString>

// One series' counts at the start of a sampling period: the row of Tab_FleetSample.
struct struFleetSample {
    qint32 periodStart = 0;  // seconds since the epoch, a multiple of the period
    // kSeriesOnline, or kSeriesRolloutPrefix followed by the package id
    QString series;
    QString label;      // the package name of a rollout
    qint32 done = 0;    // online terminals; a rollout's succeeded terminals
    qint32 failed = 0;  // a rollout's failed terminals
    qint32 total = 0;   // all terminals; a rollout's terminals in its stages
};

constexpr const char* kSeriesOnline = "online";
constexpr const char* kSeriesRolloutPrefix = "rollout:";
