#include "api/v2/StallClock.h"

#include <QDateTime>

#include "core/AppDir.h"
#include "core/LocalParaMgt.h"

double stallMinutes() {
    static const double minutes = [] {
        struLocalParam param;
        LocalParaMgt(applicationDirectory()).readLocalParam(param);
        return param.UpgradeStallMinutes;
    }();
    return minutes;
}

qint32 stalledBefore() {
    const auto stall = static_cast<qint64>(stallMinutes() * 60);
    return static_cast<qint32>(QDateTime::currentSecsSinceEpoch() - stall);
}
