#pragma once

#include <functional>

#include <QString>

#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"
#include "model/struUpgradeAttempt.h"

// What the rollout of a package is judged from, per terminal of the package's device type: its
// versions and forced flag, whether it is connected, and its current attempt when that attempt
// is for this package (same id and stored name: a re-upload of the type is another package).
class RolloutQuery {
  public:
    struct Terminal {
        struDeviceInfo device;  // devSN, the five versions and isAutoUpdate
        bool online = false;
        bool hasAttempt = false;
        UpgradeAttemptState attempt = UpgradeAttemptState::Running;
        // Read only for a planned rollout: the listed stage naming the terminal (0 for none),
        // and whether any of its attempts for the package succeeded or reverted.
        int listedPosition = 0;
        bool succeeded = false;
        bool reverted = false;
    };

    // Terminals alike in everything but their serial number come as one, with their number
    // (the serial number is left empty).
    static bool groups(const struPackageInfo& package, qint32 stalledBefore,
                       const std::function<void(const Terminal&, int count)>& visit);
    // Every terminal, by serial number; planned reads what a rollout plan judges it by too.
    static bool forEach(const struPackageInfo& package, qint32 stalledBefore,
                        const std::function<void(const Terminal&)>& visit, bool planned = false);
};
