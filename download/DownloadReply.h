#pragma once

#include <string>

struct evbuffer;
class DownloadBody;
struct HttpRequestHead;

// The download port's answers, written into a connection's output buffer.
class DownloadReply {
  public:
    // The file for the request (filePath null: none for its path), its entity tag made of
    // digest when one is given: the whole file, the one byte range asked for, 416, 304 or 404.
    // Headers and body come from one open descriptor, so a file replaced meanwhile is sent
    // whole in its old or its new version; the body is sent by the kernel straight from the
    // file, its first piece added here and the rest held in body for the caller to feed. The
    // status, for the caller.
    static int writeFile(evbuffer* out, const HttpRequestHead& head, const std::string* filePath,
                         const std::string& digest, DownloadBody& body);
    // 200 with the management port's answer to "/test", for health checks.
    static void writeTest(evbuffer* out, int minorVersion);
    // A plain error page: "Error <status>: <reason>\n<message>" (no body for HEAD).
    static void writeError(evbuffer* out, int minorVersion, int status, const char* reason,
                           const char* message, bool withBody = true);
};
