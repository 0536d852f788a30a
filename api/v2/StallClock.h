#pragma once

#include <QtGlobal>

// Seconds since the epoch before which an upgrade attempt without progress counts as stalled:
// now less UpgradeStallMinutes, read from config.ini at each call.
qint32 stalledBefore();
