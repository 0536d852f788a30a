// The throttle of failed logins: when an account name or an address is locked, and for how long.
#include "api/auth/LoginThrottle.h"

#include <gtest/gtest.h>

namespace {
constexpr qint64 kSecond = 1000;

TEST(LoginThrottle, LocksAfterRepeatedFailuresForAWindowThatDoubles) {
    LoginThrottle throttle;
    qint64 now = 1000000;
    // Failures 1..4 of one name are free; the 5th locks it for 30 s, each later one doubles.
    const struct {
        int failures;
        int lockedSeconds;
    } steps[] = {{1, 0}, {4, 0}, {5, 30}, {6, 60}, {7, 120}, {20, 900}};
    int done = 0;
    for (const auto& step : steps) {
        for (; done < step.failures; ++done) throttle.failed("Alice", "10.0.0.1", now);
        EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.9", now), step.lockedSeconds)
            << step.failures << " failures";
    }
    // Another name from another address is not held up; the lock ends on its own.
    EXPECT_EQ(throttle.retryAfterSeconds("bob", "10.0.0.9", now), 0);
    EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.9", now + 900 * kSecond), 0);
    EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.9", now + 899 * kSecond), 1);
}

TEST(LoginThrottle, AnAddressGuessingManyNamesStaysCountedThroughItsOwnLogins) {
    LoginThrottle throttle;
    const qint64 now = 5000000;
    for (int i = 0; i < LoginThrottle::kAddressFailures - 1; ++i)
        throttle.failed(QStringLiteral("name%1").arg(i), "10.0.0.2", now);
    throttle.succeeded("insider");
    EXPECT_EQ(throttle.retryAfterSeconds("anyone", "10.0.0.2", now), 0);
    throttle.failed("name0", "10.0.0.2", now);
    EXPECT_EQ(throttle.retryAfterSeconds("anyone", "10.0.0.2", now), 30);
    EXPECT_EQ(throttle.retryAfterSeconds("anyone", "10.0.0.3", now), 0);
    // A success clears its own account's count.
    throttle.succeeded("name0");
    EXPECT_EQ(throttle.retryAfterSeconds("name0", "10.0.0.3", now), 0);
}

TEST(LoginThrottle, ASprayFromManyAddressesNeverUnlocksALockedAccount) {
    LoginThrottle throttle;
    qint64 now = 7000000;
    for (int i = 0; i < LoginThrottle::kAccountFailures; ++i)
        throttle.failed("alice", "10.1.0.1", now);
    for (int i = 0; i < 5200; ++i)
        throttle.failed(QStringLiteral("spray%1").arg(i),
                        QStringLiteral("10.2.%1.%2").arg(i / 256).arg(i % 256), ++now);
    EXPECT_GT(throttle.retryAfterSeconds("alice", "10.9.9.9", now), 0);
    EXPECT_LE(throttle.entryCount(), LoginThrottle::kMaxEntries);
}
}  // namespace
