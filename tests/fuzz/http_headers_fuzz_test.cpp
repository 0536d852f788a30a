// The two header parsers of the management server fed with any text: Range must only ever
// accept an extent inside the file, Accept-Encoding must not crash.
#include <cstdlib>
#include <cstring>

#include "http/AcceptEncoding.h"
#include "http/ByteRange.h"
#include "tests/fuzz/FuzzQuiet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (silenceQtMessages(), true);
    (void)quiet;
    if (size < 8) return 0;
    int64_t fileSize = 0;
    std::memcpy(&fileSize, data, sizeof fileSize);
    fileSize &= 0x3FFFFFFFFFFFll;  // up to 64 TiB
    const QString value = QString::fromUtf8(reinterpret_cast<const char*>(data + 8), int(size - 8));

    int64_t offset = 0;
    int64_t length = fileSize;
    if (ByteRange::pageExtent(value.toStdString(), fileSize, offset, length)) {
        if (offset < 0 || length <= 0 || offset + length > fileSize) std::abort();
    }

    QMap<QString, float> weights;
    parseAcceptEncoding(value, weights);
    streamAfterAcceptEncoding(true, value, false);
    return 0;
}
