#pragma once

#include <QtGlobal>

// UpgradeStallMinutes as config.ini had it at the first call: every part of the service judges
// stalls by the same threshold for the life of the process.
double stallMinutes();

// Seconds since the epoch before which an upgrade attempt without progress counts as stalled.
qint32 stalledBefore();
