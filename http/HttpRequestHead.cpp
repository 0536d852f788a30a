#include "http/HttpRequestHead.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace {

const char* const kMethods[] = {"GET",     "HEAD",    "POST",  "PUT",  "DELETE",
                                "OPTIONS", "CONNECT", "TRACE", "PATCH"};

bool knownMethod(const std::string& method) {
    return std::any_of(std::begin(kMethods), std::end(kMethods),
                       [&](const char* known) { return method == known; });
}

std::string trimmed(const char* begin, const char* end) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
    return std::string(begin, end);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// RFC 3986 5.2.4, on a path that starts with "/".
std::string withoutDotSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::string::size_type from = 1;
    bool trailingSlash = false;
    while (from <= path.size()) {
        std::string::size_type slash = path.find('/', from);
        if (slash == std::string::npos) slash = path.size();
        const std::string segment = path.substr(from, slash - from);
        trailingSlash = segment == "." || segment == "..";
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (segment != ".") {
            segments.push_back(segment);
        }
        from = slash + 1;
    }
    std::string out;
    for (const std::string& segment : segments) out += '/' + segment;
    if (out.empty() || trailingSlash) out += '/';
    return out;
}

}  // namespace

HttpRequestHead::Parse HttpRequestHead::parse(const char* data, size_t size, HttpRequestHead& out) {
    const char* const end = data + size;
    const char* lineEnd = static_cast<const char*>(std::memchr(data, '\n', size));
    if (!lineEnd) lineEnd = end;
    const char* p = data;
    auto word = [&](std::string& into) {
        while (p < lineEnd && (*p == ' ' || *p == '\t')) ++p;
        const char* start = p;
        while (p < lineEnd && *p != ' ' && *p != '\t' && *p != '\r') ++p;
        into.assign(start, p);
    };
    std::string version;
    word(out.method);
    word(out.target);
    word(version);
    while (p < lineEnd && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    if (p != lineEnd || !knownMethod(out.method) || out.target.empty() || version.size() != 8 ||
        version.compare(0, 7, "HTTP/1.") != 0 || version[7] < '0' || version[7] > '9')
        return Parse::Bad;
    out.minorVersion = version[7] - '0';

    out.fields.clear();
    p = lineEnd < end ? lineEnd + 1 : end;
    while (p < end) {
        const char* next = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* stop = next ? next : end;
        const char* lineStop = stop > p && stop[-1] == '\r' ? stop - 1 : stop;
        if (lineStop > p) {
            if (*p == ' ' || *p == '\t') {  // an obsolete continuation of the previous field
                if (out.fields.empty()) return Parse::Bad;
                out.fields.back().second += ' ' + trimmed(p, lineStop);
            } else {
                const char* colon = static_cast<const char*>(std::memchr(p, ':', lineStop - p));
                if (!colon || colon == p) return Parse::Bad;
                if (std::any_of(p, colon, [](char c) { return c == ' ' || c == '\t'; }))
                    return Parse::Bad;
                if (out.fields.size() == kMaxFields) return Parse::TooManyFields;
                out.fields.emplace_back(std::string(p, colon), trimmed(colon + 1, lineStop));
            }
        }
        p = stop + 1;
    }
    return Parse::Ok;
}

bool HttpRequestHead::decodePath(const std::string& target, std::string& path) {
    std::string::size_type start = 0;
    if (strncasecmp(target.c_str(), "http://", 7) == 0 ||
        strncasecmp(target.c_str(), "https://", 8) == 0) {
        start = target.find('/', target.find("//") + 2);
        if (start == std::string::npos) {
            path = "/";
            return true;
        }
    }
    if (start >= target.size() || target[start] != '/') return false;
    const std::string::size_type query = target.find('?', start);
    const std::string raw =
        target.substr(start, query == std::string::npos ? query : query - start);
    std::string decoded;
    decoded.reserve(raw.size());
    for (std::string::size_type i = 0; i < raw.size(); ++i) {
        const int high = raw[i] == '%' && i + 2 < raw.size() ? hexValue(raw[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(raw[i + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += raw[i];
        }
    }
    if (decoded.find('\0') != std::string::npos) return false;
    path = withoutDotSegments(decoded);
    return true;
}

const std::string* HttpRequestHead::field(const char* name) const {
    for (const auto& f : fields)
        if (strcasecmp(f.first.c_str(), name) == 0) return &f.second;
    return nullptr;
}
