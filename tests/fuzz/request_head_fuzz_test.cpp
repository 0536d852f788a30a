// What the download port and the management port read of a request before any handler runs:
// the download port's head parser and path decoder, the management port's head scanner and the
// byte-range reader both ports share. Only ever an extent inside the file, a decoded path that
// does not climb, and no crash.
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/ByteRange.h"
#include "http/HttpRequestHead.h"
#include "http/RequestHeadScanner.h"
#include "tests/fuzz/FuzzQuiet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (silenceQtMessages(), true);
    (void)quiet;
    if (size < 8) return 0;
    int64_t fileSize = 0;
    std::memcpy(&fileSize, data, sizeof fileSize);
    fileSize &= 0x3FFFFFFFFFFFll;  // up to 64 TiB
    const char* text = reinterpret_cast<const char*>(data + 8);
    const size_t length = size - 8;

    const ByteRange range = ByteRange::evaluate(std::string(text, length), fileSize);
    if (range.kind == ByteRange::Part &&
        (range.first < 0 || range.last < range.first || range.last >= fileSize))
        std::abort();

    HttpRequestHead head;
    if (HttpRequestHead::parse(text, length, head) == HttpRequestHead::Parse::Ok) {
        std::string path;
        if (HttpRequestHead::decodePath(head.target, path) &&
            (path.empty() || path[0] != '/' || path.find("/../") != std::string::npos ||
             (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0)))
            std::abort();
    }

    RequestHeadScanner scanner;
    qsizetype fed = 0;
    // Fed in two pieces, as the bytes of a connection arrive.
    const qsizetype half = static_cast<qsizetype>(length / 2);
    fed += scanner.feed(text, half);
    if (!scanner.headDone())
        fed += scanner.feed(text + half, static_cast<qsizetype>(length) - half);
    if (fed < 0 || fed > static_cast<qsizetype>(length)) std::abort();
    if (scanner.headDone() && scanner.contentLength() < -1) std::abort();
    return 0;
}
