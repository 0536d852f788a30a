#include "http/MimeType.h"

#include <strings.h>

namespace {
struct Known {
    const char* extension;
    const char* type;
};
// The names packages and their companions are given, and the pages' own files.
const Known kKnown[] = {
    {".bin", "application/octet-stream"},
    {".exe", "application/octet-stream"},
    {".iso", "application/octet-stream"},
    {".deb", "application/octet-stream"},
    {".dll", "application/octet-stream"},
    {".zip", "application/x-zip-compressed"},
    {".gz", "application/x-gunzip"},
    {".tgz", "application/x-tar-gz"},
    {".tar", "application/x-tar"},
    {".rar", "application/x-arj-compressed"},
    {".json", "application/json"},
    {".xml", "text/xml"},
    {".csv", "text/csv"},
    {".htm", "text/html"},
    {".html", "text/html"},
    {".pdf", "application/pdf"},
    {".js", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".png", "image/png"},
    {".gif", "image/gif"},
    {".svg", "image/svg+xml"},
    {".ico", "image/x-icon"},
};
}  // namespace

const char* mimeTypeOf(const std::string& path) {
    for (const Known& known : kKnown) {
        const std::string::size_type length = std::char_traits<char>::length(known.extension);
        if (path.size() > length &&
            strcasecmp(path.c_str() + path.size() - length, known.extension) == 0)
            return known.type;
    }
    return "text/plain";
}
