#pragma once

#include <ctime>
#include <string>

// Dates in HTTP headers: written in the fixed form, read in the three forms clients may send.
struct HttpDate {
    // "Tue, 08 Dec 2026 22:01:08 GMT"
    static std::string format(time_t time);
    // The fixed form, the obsolete RFC 850 form and the asctime form; false for anything else.
    static bool parse(const std::string& text, time_t& time);
};
