#include "http/HttpDate.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int monthIndex(const char* name) {
    for (int i = 0; i < 12; ++i)
        if (std::strcmp(name, kMonths[i]) == 0) return i;
    return -1;
}

bool toTime(int year, const char* month, int day, int hour, int minute, int second, time_t& time) {
    const int mon = monthIndex(month);
    if (mon < 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1970)
        return false;
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = mon;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    time = timegm(&parts);
    return time != static_cast<time_t>(-1);
}

}  // namespace

std::string HttpDate::format(time_t time) {
    struct tm parts;
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

bool HttpDate::parse(const std::string& text, time_t& time) {
    char month[4] = {0};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    const char* s = text.c_str();
    // Each form must be matched to its last character: a trailing "GMT" is part of the form.
    if (std::sscanf(s, "%*3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", &day, month, &year,
                    &hour, &minute, &second, &used) == 6 &&
        s[used] == '\0')
        return toTime(year, month, day, hour, minute, second, time);
    used = 0;
    if (std::sscanf(s, "%*[A-Za-z], %2d-%3[A-Za-z]-%2d %2d:%2d:%2d GMT%n", &day, month, &year,
                    &hour, &minute, &second, &used) == 6 &&
        s[used] == '\0')
        return toTime(year + (year < 70 ? 2000 : 1900), month, day, hour, minute, second, time);
    used = 0;
    if (std::sscanf(s, "%*3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", month, &day, &hour, &minute,
                    &second, &year, &used) == 6 &&
        s[used] == '\0')
        return toTime(year, month, day, hour, minute, second, time);
    return false;
}
