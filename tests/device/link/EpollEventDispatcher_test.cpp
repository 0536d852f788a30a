#include "device/link/EpollEventDispatcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include <gtest/gtest.h>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include "tests/support/ServiceProcess.h"

// What an I/O thread's loop must do for the sockets it hosts and for Qt around them: run calls
// posted from other threads, fire timers (one-shot, repeating, stopped from their own slot),
// wake a notifier each time its descriptor becomes readable, and end when asked.
TEST(EpollEventDispatcher, RunsPostedCallsTimersAndNotifiersThenQuits) {
    QThread thread;
    thread.setEventDispatcher(new EpollEventDispatcher);
    QObject context;
    context.moveToThread(&thread);

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    std::atomic<bool> posted{false};
    std::atomic<int> singleShots{0};
    std::atomic<int> repeats{0};
    std::atomic<int> reads{0};
    QSocketNotifier* notifier = nullptr;
    QMetaObject::invokeMethod(&context, [&] {
        posted = QThread::currentThread() == &thread;
        QTimer::singleShot(30, &context, [&] { ++singleShots; });
        auto* repeating = new QTimer(&context);
        QObject::connect(repeating, &QTimer::timeout, [&, repeating] {
            if (++repeats == 3) repeating->stop();
        });
        repeating->start(10);
        notifier = new QSocketNotifier(pair[0], QSocketNotifier::Read, &context);
        QObject::connect(notifier, &QSocketNotifier::activated, [&] {
            char byte;
            if (::read(pair[0], &byte, 1) == 1) ++reads;
        });
    });
    thread.start();  // after the post: the thread's start orders its read of the captures
    ASSERT_TRUE(waitUntil([&] { return posted.load() && repeats.load() == 3; }));
    EXPECT_TRUE(waitUntil([&] { return singleShots.load() == 1; }));
    for (int i = 1; i <= 2; ++i) {
        ASSERT_EQ(::write(pair[1], "x", 1), 1);
        EXPECT_TRUE(waitUntil([&] { return reads.load() == i; })) << i;
    }
    EXPECT_EQ(repeats.load(), 3);  // stopped from its own slot

    thread.quit();
    EXPECT_TRUE(thread.wait(5000));
    ::close(pair[0]);
    ::close(pair[1]);
}
