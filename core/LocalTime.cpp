#include "core/LocalTime.h"

#include <time.h>

#include <cstdio>

QString localTimeText(qint64 secsSinceEpoch) {
    if (secsSinceEpoch <= 0) return QString();
    // The C library's local time, as QDateTime uses it, but without QDateTime's cost, which
    // dominated the device list for large fleets.
    const time_t t = time_t(secsSinceEpoch);
    struct tm local {};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return QString();
#else
    if (!localtime_r(&t, &local)) return QString();
#endif
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text, length);
}
