#pragma once

#include <QString>

#include "model/struPackageInfo.h"

// The bucket (0 to kRolloutBuckets - 1) a terminal falls in for a package: a hash of the
// package's row and upload and the serial number, the same in every process and on every
// machine (unlike Qt's seeded hashes), so a terminal keeps its stage across restarts. Another
// upload for the type draws its stages afresh.
int rolloutBucket(const struPackageInfo& package, const QString& devSN);
