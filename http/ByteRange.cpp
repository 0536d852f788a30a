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

// "a-b", "a-" or "-n".
bool parseItem(const std::string& item, ByteRange::Asked& range) {
    const std::string::size_type dash = item.find('-');
    if (dash == std::string::npos) return false;
    const std::string left = item.substr(0, dash);
    const std::string right = item.substr(dash + 1);
    if (left.empty()) return parseDigits(right, range.last);
    if (!parseDigits(left, range.first)) return false;
    return right.empty() || (parseDigits(right, range.last) && range.last >= range.first);
}

}  // namespace

bool ByteRange::parse(const std::string& header, std::vector<Asked>& asked) {
    asked.clear();
    const std::string::size_type eq = header.find('=');
    if (eq == std::string::npos) return false;
    std::string unit = trimmed(header.substr(0, eq));
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (unit != "bytes") return false;

    std::string::size_type from = eq + 1;
    while (true) {
        const std::string::size_type comma = header.find(',', from);
        const std::string item = trimmed(header.substr(from, comma - from));
        if (!item.empty()) {
            Asked range;
            if (!parseItem(item, range)) break;
            asked.push_back(range);
        }
        if (comma == std::string::npos) return !asked.empty();
        from = comma + 1;
    }
    asked.clear();
    return false;
}

ByteRange ByteRange::evaluate(const std::string& header, int64_t size) {
    ByteRange answer;
    std::vector<Asked> asked;
    if (!parse(header, asked)) return answer;
    int satisfiable = 0;
    for (const Asked& range : asked) {
        int64_t a = range.first;
        int64_t b = range.last;
        if (a < 0) {  // suffix: the last b bytes
            if (b == 0 || size == 0) continue;
            a = size - std::min(b, size);
            b = size - 1;
        } else {
            if (a >= size) continue;
            b = b < 0 ? size - 1 : std::min(b, size - 1);
        }
        if (++satisfiable == 1) {
            answer.first = a;
            answer.last = b;
        }
    }
    if (satisfiable == 0) {
        answer.kind = Unsatisfiable;
    } else if (asked.size() == 1) {
        answer.kind = Part;
    } else {
        answer.first = answer.last = 0;
    }
    return answer;
}

bool ByteRange::pageExtent(const std::string& header, int64_t size, int64_t& offset,
                           int64_t& length) {
    std::string compact;
    for (char c : header)
        if (c != ' ' && c != '\t') compact += c;
    std::vector<Asked> asked;
    if (compact.compare(0, 6, "bytes=") != 0 || compact.find(',') != std::string::npos ||
        !parse(compact, asked))
        return false;
    const Asked& range = asked.front();
    if (range.first < 0) {  // suffix
        length = range.last;
        if (range.last > size) return false;
        offset = size - range.last;
        return length > 0;
    }
    if (range.last < 0) {  // open
        if (range.first > size) return false;
        offset = range.first;
        length = size - range.first;
        return length > 0;
    }
    if (range.last >= size) return false;
    offset = range.first;
    length = range.last - range.first + 1;
    return true;
}

std::string ByteRange::contentRange(int64_t first, int64_t last, int64_t size) {
    return "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/' +
           std::to_string(size);
}

std::string ByteRange::unsatisfied(int64_t size) {
    return "bytes */" + std::to_string(size);
}
