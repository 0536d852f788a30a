#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The validators of one version of a served file, and the conditional-request rules on them.
struct FileVersion {
    int64_t size = 0;
    time_t modified = 0;
    // Hex SHA-256 of the content as stored with it; empty when none was stored.
    std::string digest;

    // The version of the regular file open at fd; false for anything else.
    static bool ofDescriptor(int fd, FileVersion& version);

    // The quoted digest, which changes whenever the content does. Without one the older
    // "\"<modification time in hex>.<size>\"", which a replacement of the same size within the
    // same second keeps.
    std::string etag() const;
    std::string lastModified() const;

    // Whether an If-Range value names this version: the same strong entity tag, or exactly the
    // modification date. A weak tag never does.
    bool matchesIfRange(const std::string& value) const;
    // Whether a Range goes on to be honoured: no If-Range came, or it names this version.
    bool rangeApplies(const std::string* ifRange) const {
        return !ifRange || matchesIfRange(*ifRange);
    }
    // Whether a conditional GET is answered 304: If-None-Match when present (entity tags
    // compared weakly, "*" matching any), otherwise If-Modified-Since. Null when absent.
    bool notModified(const std::string* ifNoneMatch, const std::string* ifModifiedSince) const;
};
