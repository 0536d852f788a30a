// The standard reading of Range for file replies, and the download name header.
#include <gtest/gtest.h>

#include "http/ByteRange.h"
#include "http/ContentDisposition.h"

TEST(ByteRange, Table) {
    const struct {
        const char* header;
        qint64 size;
        ByteRange::Kind expected;
        qint64 first, last;
    } cases[] = {
        {"bytes=0-99", 1000, ByteRange::Part, 0, 99},
        {"bytes=900-", 1000, ByteRange::Part, 900, 999},
        {"bytes=-100", 1000, ByteRange::Part, 900, 999},
        {"bytes=990-2000", 1000, ByteRange::Part, 990, 999},  // clamped to the end
        {"bytes=-5000", 1000, ByteRange::Part, 0, 999},       // the whole file as a range
        {"BYTES = 10-19", 1000, ByteRange::Part, 10, 19},
        {"bytes=999-999", 1000, ByteRange::Part, 999, 999},
        {"bytes=1000-", 1000, ByteRange::Unsatisfiable, 0, 0},
        {"bytes=5000-6000", 1000, ByteRange::Unsatisfiable, 0, 0},
        {"bytes=-0", 1000, ByteRange::Unsatisfiable, 0, 0},
        {"bytes=0-", 0, ByteRange::Unsatisfiable, 0, 0},
        // ignored: the whole file
        {"bytes=0-9,20-29", 1000, ByteRange::WholeFile, 0, 0},
        {"items=0-9", 1000, ByteRange::WholeFile, 0, 0},
        {"bytes=9-5", 1000, ByteRange::WholeFile, 0, 0},
        {"bytes=5", 1000, ByteRange::WholeFile, 0, 0},
        {"bytes=a-9", 1000, ByteRange::WholeFile, 0, 0},
        {"bytes=-", 1000, ByteRange::WholeFile, 0, 0},
        {"bytes=+1-5", 1000, ByteRange::WholeFile, 0, 0},
        // a first byte past anything a file can hold is past this one's end
        {"bytes=99999999999999999999-", 1000, ByteRange::Unsatisfiable, 0, 0},
        // several ranges: the whole file, unless none of them overlaps it
        {"bytes=2000-2009,3000-", 1000, ByteRange::Unsatisfiable, 0, 0},
        {"bytes=5000000000-5000000009", 6000000000LL, ByteRange::Part, 5000000000LL, 5000000009LL},
    };
    for (const auto& c : cases) {
        const ByteRange range = ByteRange::evaluate(c.header, c.size);
        EXPECT_EQ(range.kind, c.expected) << c.header;
        if (range.kind != ByteRange::Part) continue;
        EXPECT_EQ(range.first, c.first) << c.header;
        EXPECT_EQ(range.last, c.last) << c.header;
    }
}

TEST(ContentDisposition, AsciiPlainOthersWithFilenameStar) {
    EXPECT_EQ(attachmentDisposition("pkg.bin"), "attachment; filename=\"pkg.bin\"");
    EXPECT_EQ(attachmentDisposition("a\"b\\c.bin"), "attachment; filename=\"a_b_c.bin\"");
    EXPECT_EQ(
        attachmentDisposition(QString::fromUtf8("升级 包.bin")),
        "attachment; filename=\"__ _.bin\"; filename*=UTF-8''%E5%8D%87%E7%BA%A7%20%E5%8C%85.bin");
}
