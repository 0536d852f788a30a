#include "http/FileSendStrategy.h"

namespace {
constexpr double kStreamAbove = 1.7 * 1073741824.0;  // 1825361100.8
constexpr double kBufferAbove = 1.3 * 1073741824.0;  // 1395864371.2
}  // namespace

FileSendStrategy chooseFileSendStrategy(qint64 length, bool stream) {
    const double l = static_cast<double>(length);
    if (stream || l > kStreamAbove) return FileSendStrategy::Streamed;
    if (l > kBufferAbove) return FileSendStrategy::Buffered;
    return FileSendStrategy::Segment;
}
