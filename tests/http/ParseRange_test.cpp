// The management port's older reading of Range (its pages and legacy downloads), on the
// grammar the download port and the v2 replies share.
#include <gtest/gtest.h>

#include "http/ByteRange.h"

namespace {
struct RangeCase {
    const char* value;
    int64_t size;
    bool accepted;
    int64_t offset, length;  // after the call; callers pass 0 and the size in
};
}  // namespace

TEST(ParseRange, Table) {
    constexpr int64_t kBig = 6LL * 1024 * 1024 * 1024;
    const RangeCase cases[] = {
        // the 1000-byte worked example
        {"bytes=100-", 1000, true, 100, 900},
        {"bytes=-100", 1000, true, 900, 100},
        {"bytes=0-0", 1000, true, 0, 1},
        {"bytes = 200 - 299", 1000, true, 200, 100},
        {"bytes=500-1000", 1000, false, 0, 1000},
        {"bytes=1000-", 1000, false, 1000, 0},
        {"bytes=0-9,20-29", 1000, false, 0, 1000},
        {"items=0-9", 1000, false, 0, 1000},
        // further edges
        {"Bytes=0-9", 1000, false, 0, 1000},
        {"bytes=999-", 1000, true, 999, 1},
        {"bytes=1001-", 1000, false, 0, 1000},
        {"bytes=-1000", 1000, true, 0, 1000},
        {"bytes=-1001", 1000, false, 0, 1001},
        {"bytes=5-2", 1000, false, 0, 1000},
        {"bytes=5", 1000, false, 0, 1000},
        {" bytes=10-19 ", 1000, true, 10, 10},
        // beyond 4 GiB
        {"bytes=5000000000-", kBig, true, 5000000000LL, kBig - 5000000000LL},
        {"bytes=4294967296-4294967305", kBig, true, 4294967296LL, 10},
        {"bytes=-5000000000", kBig, true, kBig - 5000000000LL, 5000000000LL},
        {"bytes=0-6442450944", kBig, false, 0, kBig},
    };
    for (const RangeCase& c : cases) {
        int64_t offset = 0, length = c.size;
        EXPECT_EQ(ByteRange::pageExtent(c.value, c.size, offset, length), c.accepted) << c.value;
        EXPECT_EQ(offset, c.offset) << c.value;
        EXPECT_EQ(length, c.length) << c.value;
    }
}
