#include "core/OpenFileLimit.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

TEST(OpenFileLimit, SoftLimitIsRaisedToTheHardOne) {
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    if (before.rlim_max < 128) GTEST_SKIP() << "hard limit too low to lower the soft one";
    rlimit lowered = before;
    lowered.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    const OpenFileLimit limit = raiseOpenFileLimit();
    rlimit after{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &after), 0);
    EXPECT_EQ(after.rlim_cur, before.rlim_max);
    EXPECT_EQ(limit.soft, limit.hard);
    EXPECT_GT(limit.soft, 64);
    ::setrlimit(RLIMIT_NOFILE, &before);
}

TEST(OpenFileLimit, WantedGrowsWithTheConnectionLimit) {
    EXPECT_EQ(openFilesWanted(0), openFilesWanted(-5));
    EXPECT_EQ(openFilesWanted(2000) - openFilesWanted(1000), 2000);
}
