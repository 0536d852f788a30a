#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The head of one HTTP/1.x request: request line and header fields, as the download port
// reads them. Only what the port needs is kept.
struct HttpRequestHead {
    enum class Parse { Ok, Bad, TooManyFields };
    static constexpr size_t kMaxFields = 64;

    // The head without its terminating empty line; lines end in CRLF or LF.
    static Parse parse(const char* data, size_t size, HttpRequestHead& out);
    // The path of a request target: the query dropped, percent-escapes decoded and "." and ".."
    // segments resolved. Absolute-form targets ("http://host/path") give their path. False
    // for a target that names no path.
    static bool decodePath(const std::string& target, std::string& path);

    // The first field of that name (case-insensitive), or null.
    const std::string* field(const char* name) const;
    bool isHead() const { return method == "HEAD"; }

    std::string method;
    std::string target;
    int minorVersion = 1;  // HTTP/1.<minor>
    std::vector<std::pair<std::string, std::string>> fields;
};
