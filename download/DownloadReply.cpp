#include "download/DownloadReply.h"

#include <event2/buffer.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include "download/DownloadBody.h"
#include "http/ByteRange.h"
#include "http/FileVersion.h"
#include "http/HttpDate.h"
#include "http/HttpRequestHead.h"
#include "http/MimeType.h"

namespace {

const char kNotFound[] = "Error: File not found";

std::string statusLine(int minorVersion, int status, const char* reason) {
    return std::string(minorVersion == 0 ? "HTTP/1.0 " : "HTTP/1.1 ") + std::to_string(status) +
           ' ' + reason + "\r\n";
}

void addField(std::string& head, const char* name, const std::string& value) {
    head += name;
    head += ": ";
    head += value;
    head += "\r\n";
}

// Every answer ends its head the same way: one request per connection.
void finishHead(std::string& head) {
    addField(head, "Date", HttpDate::format(time(nullptr)));
    addField(head, "Connection", "close");
    head += "\r\n";
}

}  // namespace

void DownloadReply::writeError(evbuffer* out, int minorVersion, int status, const char* reason,
                               const char* message, bool withBody) {
    const std::string body =
        "Error " + std::to_string(status) + ": " + reason + "\n" + std::string(message);
    std::string head = statusLine(minorVersion, status, reason);
    addField(head, "Cache-Control", "no-cache, no-store, must-revalidate, private, max-age=0");
    addField(head, "Expires", "0");
    addField(head, "Pragma", "no-cache");
    addField(head, "Content-Type", "text/plain; charset=utf-8");
    addField(head, "Content-Length", std::to_string(body.size()));
    finishHead(head);
    if (withBody) head += body;
    evbuffer_add(out, head.data(), head.size());
}

void DownloadReply::writeTest(evbuffer* out, int minorVersion) {
    static const std::string body = "This is the test buf";
    std::string head = statusLine(minorVersion, 200, "OK");
    addField(head, "Content-Type", "text/plain; charset=utf-8");
    addField(head, "Content-Length", std::to_string(body.size()));
    finishHead(head);
    head += body;
    evbuffer_add(out, head.data(), head.size());
}

int DownloadReply::writeFile(evbuffer* out, const HttpRequestHead& head,
                             const std::string* filePath, const std::string& digest,
                             DownloadBody& body) {
    const int minor = head.minorVersion;
    const int fd = filePath ? open(filePath->c_str(), O_RDONLY | O_CLOEXEC) : -1;
    FileVersion version;
    if (!FileVersion::ofDescriptor(fd, version)) {
        if (fd >= 0) close(fd);
        writeError(out, minor, 404, "Not Found", kNotFound, !head.isHead());
        return 404;
    }
    version.digest = digest;

    const std::string* range = head.field("Range");
    // A resuming terminal sends a plain Range: validators without one are a cache's question.
    if (!range) {
        const std::string* ifNoneMatch = head.field("If-None-Match");
        const std::string* ifModifiedSince = head.field("If-Modified-Since");
        if ((ifNoneMatch || ifModifiedSince) && version.notModified(ifNoneMatch, ifModifiedSince)) {
            close(fd);
            std::string reply = statusLine(minor, 304, "Not Modified");
            addField(reply, "Cache-Control", "max-age=3600");
            addField(reply, "Last-Modified", version.lastModified());
            addField(reply, "Etag", version.etag());
            finishHead(reply);
            evbuffer_add(out, reply.data(), reply.size());
            return 304;
        }
    }
    ByteRange part;
    // If-Range names the version the client holds part of: another version is sent whole,
    // never spliced onto the old bytes.
    if (range && version.rangeApplies(head.field("If-Range")))
        part = ByteRange::evaluate(*range, version.size);

    if (part.kind == ByteRange::Unsatisfiable) {
        close(fd);
        std::string reply = statusLine(minor, 416, "Requested range not satisfiable");
        addField(reply, "Content-Range", ByteRange::unsatisfied(version.size));
        addField(reply, "Content-Length", "0");
        finishHead(reply);
        evbuffer_add(out, reply.data(), reply.size());
        return 416;
    }

    int64_t first = 0;
    int64_t last = version.size - 1;
    if (part.kind == ByteRange::Part) {
        first = part.first;
        last = part.last;
    }
    const int64_t length = last - first + 1;
    // The segment owns the descriptor from here; the kernel sends its bytes (sendfile).
    evbuffer_file_segment* segment = nullptr;
    if (length > 0 && !head.isHead()) {
        segment = evbuffer_file_segment_new(fd, first, length, EVBUF_FS_CLOSE_ON_FREE);
        if (!segment) {
            close(fd);
            writeError(out, minor, 500, "Internal Server Error", "Error: Cannot send file");
            return 500;
        }
    } else {
        close(fd);
    }

    const int status = part.kind == ByteRange::Part ? 206 : 200;
    std::string reply = statusLine(minor, status, status == 206 ? "Partial Content" : "OK");
    if (status == 206)
        addField(reply, "Content-Range", ByteRange::contentRange(first, last, version.size));
    addField(reply, "Content-Type", mimeTypeOf(*filePath));
    addField(reply, "Content-Length", std::to_string(length));
    addField(reply, "Accept-Ranges", "bytes");
    addField(reply, "Last-Modified", version.lastModified());
    addField(reply, "Etag", version.etag());
    finishHead(reply);
    evbuffer_add(out, reply.data(), reply.size());
    if (!segment) return status;
    body.reset(segment, length);
    if (body.feed(out)) return status;
    body.reset(nullptr, 0);
    evbuffer_drain(out, evbuffer_get_length(out));
    writeError(out, minor, 500, "Internal Server Error", "Error: Cannot send file");
    return 500;
}
