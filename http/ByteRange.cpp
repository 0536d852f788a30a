#include "http/ByteRange.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

namespace {

bool parseDigits(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        // Positions past any real file size saturate instead of overflowing.
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            value = std::numeric_limits<int64_t>::max();
        } else {
            value = value * 10 + digit;
        }
    }
    return true;
}

std::string trimmed(const std::string& text) {
    const auto notSpace = [](unsigned char c) { return c != ' ' && c != '\t'; };
    const auto begin = std::find_if(text.begin(), text.end(), notSpace);
    const auto end = std::find_if(text.rbegin(), text.rend(), notSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

}  // namespace

ByteRange ByteRange::evaluate(const std::string& header, int64_t size) {
    ByteRange answer;
    const std::string::size_type eq = header.find('=');
    if (eq == std::string::npos) return answer;
    std::string unit = trimmed(header.substr(0, eq));
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (unit != "bytes") return answer;

    std::vector<std::string> items;
    std::string::size_type from = eq + 1;
    while (true) {
        const std::string::size_type comma = header.find(',', from);
        const std::string item = trimmed(header.substr(from, comma - from));
        if (!item.empty()) items.push_back(item);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (items.empty()) return answer;

    int satisfiable = 0;
    int64_t first = 0;
    int64_t last = 0;
    for (const std::string& item : items) {
        const std::string::size_type dash = item.find('-');
        if (dash == std::string::npos) return answer;
        const std::string left = item.substr(0, dash);
        const std::string right = item.substr(dash + 1);
        int64_t a = 0;
        int64_t b = 0;
        if (left.empty()) {  // suffix: the last b bytes
            if (!parseDigits(right, b)) return answer;
            if (b == 0 || size == 0) continue;
            a = size - std::min(b, size);
            b = size - 1;
        } else {
            if (!parseDigits(left, a)) return answer;
            if (right.empty()) {
                b = size - 1;
            } else {
                if (!parseDigits(right, b) || b < a) return answer;
                b = std::min(b, size - 1);
            }
            if (a >= size) continue;
        }
        if (++satisfiable == 1) {
            first = a;
            last = b;
        }
    }

    if (satisfiable == 0) {
        answer.kind = Unsatisfiable;
    } else if (items.size() == 1) {
        answer.kind = Part;
        answer.first = first;
        answer.last = last;
    }
    return answer;
}
