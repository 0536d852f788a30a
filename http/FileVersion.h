#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The validators of one version of a served file, and the conditional-request rules on them.
struct FileVersion {
    int64_t size = 0;
    time_t modified = 0;

    // "\"<modification time in hex>.<size>\"": the form terminals already hold from earlier
    // downloads, so their resumed requests keep matching.
    std::string etag() const;
    std::string lastModified() const;

    // Whether an If-Range value names this version: the same strong entity tag, or exactly the
    // modification date. A weak tag never does.
    bool matchesIfRange(const std::string& value) const;
    // Whether a conditional GET is answered 304: If-None-Match when present (entity tags
    // compared weakly, "*" matching any), otherwise If-Modified-Since. Null when absent.
    bool notModified(const std::string* ifNoneMatch, const std::string* ifModifiedSince) const;
};
