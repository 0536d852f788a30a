#include "http/FileVersion.h"

#include <sys/stat.h>

#include <cstdio>

#include "http/HttpDate.h"

namespace {

std::string trimmed(const std::string& text) {
    const std::string::size_type begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

bool isWeak(const std::string& tag) {
    return tag.compare(0, 2, "W/") == 0;
}

}  // namespace

bool FileVersion::ofDescriptor(int fd, FileVersion& version) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    version.size = static_cast<int64_t>(st.st_size);
    version.modified = st.st_mtime;
    return true;
}

std::string FileVersion::etag() const {
    if (!digest.empty()) return '"' + digest + '"';
    char text[64];
    std::snprintf(text, sizeof(text), "\"%lx.%lld\"", static_cast<unsigned long>(modified),
                  static_cast<long long>(size));
    return text;
}

std::string FileVersion::lastModified() const {
    return HttpDate::format(modified);
}

bool FileVersion::matchesIfRange(const std::string& value) const {
    const std::string text = trimmed(value);
    if (text.empty() || isWeak(text)) return false;
    if (text.front() == '"') return text == etag();
    time_t date = 0;
    return HttpDate::parse(text, date) && date == modified;
}

bool FileVersion::notModified(const std::string* ifNoneMatch,
                              const std::string* ifModifiedSince) const {
    if (ifNoneMatch) {
        const std::string own = etag();
        std::string::size_type from = 0;
        while (from <= ifNoneMatch->size()) {
            const std::string::size_type comma = ifNoneMatch->find(',', from);
            std::string tag = trimmed(ifNoneMatch->substr(from, comma - from));
            if (tag == "*") return true;
            if (isWeak(tag)) tag.erase(0, 2);
            if (tag == own) return true;
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
        return false;
    }
    time_t since = 0;
    return ifModifiedSince && HttpDate::parse(trimmed(*ifModifiedSince), since) &&
           modified <= since;
}
