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
    EXPECT_EQ(openFilesWanted(4000) - openFilesWanted(3000), 1000 * kDescriptorsPerTerminal);
}

// The terminals that fit in a descriptor limit, and the limit wanted for a number of them:
// the two rules must agree on either side of the point where the reserve stops growing.
TEST(OpenFileLimit, BudgetLeavesTheReserveAndInvertsWanted) {
    const struct {
        long openFiles;
        long terminals;
    } budgets[] = {{0, 0},       {100, 50},    {256, 128},     {1024, 512},
                   {2047, 1024}, {2048, 1024}, {20000, 18976}, {65536, 64512}};
    for (const auto& b : budgets)
        EXPECT_EQ(terminalBudget(b.openFiles), b.terminals) << b.openFiles;
    for (int terminals : {1, 50, 511, 1023, 1024, 1025, 18976, 64512}) {
        const long wanted = openFilesWanted(terminals);
        EXPECT_GE(terminalBudget(wanted), terminals) << terminals;
        EXPECT_LT(terminalBudget(wanted - 1), terminals) << terminals;
    }
}
