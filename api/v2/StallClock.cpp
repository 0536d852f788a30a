#include "api/v2/StallClock.h"

#include <QDateTime>

#include "core/LocalParaMgt.h"

qint32 stalledBefore() {
    struLocalParam param;
    LocalParaMgt::instance()->readLocalParam(param);
    const qint64 stall = static_cast<qint64>(param.UpgradeStallMinutes * 60);
    return static_cast<qint32>(QDateTime::currentSecsSinceEpoch() - stall);
}
