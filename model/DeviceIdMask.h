#pragma once

#include <QString>

// A device ID as shown to one who may not read it: every character but the last four (at most
// half of a short one) starred out, enough to tell terminals apart in a list and too few to
// report as one. A file exported that way may come back in an import, where a starred-out ID is
// no ID to write.
namespace DeviceIdMask {
constexpr int kShown = 4;

inline QString masked(const QString& devId) {
    const int hidden = devId.size() - qMin(kShown, devId.size() / 2);
    return QString(hidden, QLatin1Char('*')) + devId.mid(hidden);
}

inline bool isMasked(const QString& devId) {
    return devId.startsWith(QLatin1Char('*'));
}
}  // namespace DeviceIdMask
