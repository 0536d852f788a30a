// The standard reading of Range for file replies, and the download name header.
#include <gtest/gtest.h>

#include "http/ByteRange.h"
#include "http/ContentDisposition.h"

TEST(ByteRange, Table) {
    const struct {
        const char* header;
        qint64 size;
        ByteRange expected;
        qint64 offset, length;
    } cases[] = {
        {"bytes=0-99", 1000, ByteRange::Partial, 0, 100},
        {"bytes=900-", 1000, ByteRange::Partial, 900, 100},
        {"bytes=-100", 1000, ByteRange::Partial, 900, 100},
        {"bytes=990-2000", 1000, ByteRange::Partial, 990, 10},  // clamped to the end
        {"bytes=-5000", 1000, ByteRange::Partial, 0, 1000},     // the whole file as a range
        {"BYTES = 10-19", 1000, ByteRange::Partial, 10, 10},
        {"bytes=999-999", 1000, ByteRange::Partial, 999, 1},
        {"bytes=1000-", 1000, ByteRange::Unsatisfiable, 0, 1000},
        {"bytes=5000-6000", 1000, ByteRange::Unsatisfiable, 0, 1000},
        {"bytes=-0", 1000, ByteRange::Unsatisfiable, 0, 1000},
        {"bytes=0-", 0, ByteRange::Unsatisfiable, 0, 0},
        // ignored: the whole file
        {"bytes=0-9,20-29", 1000, ByteRange::Whole, 0, 1000},
        {"items=0-9", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=9-5", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=5", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=a-9", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=-", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=+1-5", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=99999999999999999999-", 1000, ByteRange::Whole, 0, 1000},
        {"bytes=5000000000-5000000009", 6000000000LL, ByteRange::Partial, 5000000000LL, 10},
    };
    for (const auto& c : cases) {
        qint64 offset = -1, length = -1;
        EXPECT_EQ(parseByteRange(c.header, c.size, offset, length), c.expected) << c.header;
        EXPECT_EQ(offset, c.offset) << c.header;
        EXPECT_EQ(length, c.length) << c.header;
    }
}

TEST(ContentDisposition, AsciiPlainOthersWithFilenameStar) {
    EXPECT_EQ(attachmentDisposition("pkg.bin"), "attachment; filename=\"pkg.bin\"");
    EXPECT_EQ(attachmentDisposition("a\"b\\c.bin"), "attachment; filename=\"a_b_c.bin\"");
    EXPECT_EQ(
        attachmentDisposition(QString::fromUtf8("升级 包.bin")),
        "attachment; filename=\"__ _.bin\"; filename*=UTF-8''%E5%8D%87%E7%BA%A7%20%E5%8C%85.bin");
}
