#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "db/Tab_DeviceInfo.h"
#include "tests/db/DbTestSupport.h"

namespace {
constexpr int kThreads = 8;
constexpr int kUpdates = 500;
constexpr int kDevicesPerThread = 10;

QString serial(int thread, int device) {
    return QStringLiteral("SN-%1-%2").arg(thread).arg(device);
}
}  // namespace

// More writers than connections, as the main thread and the web workers are: every update
// waits for its turn at the file lock instead of failing with "database is locked".
TEST_F(DbTableTest, ConcurrentUpdatesAreAllStored) {
    Tab_DeviceInfo table;
    for (int t = 0; t < kThreads; ++t)
        for (int d = 0; d < kDevicesPerThread; ++d) {
            struDeviceInfo device;
            device.devSN = serial(t, d);
            ASSERT_TRUE(table.insertDevice(device));
        }

    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failed] {
            Tab_DeviceInfo own;
            for (int i = 0; i < kUpdates; ++i) {
                struDeviceInfo device;
                device.devSN = serial(t, i % kDevicesPerThread);
                device.AppVersion = QStringLiteral("v%1").arg(i);
                device.UpgradeCompletionTime = i;
                if (!own.updateDevice(device)) ++failed;
                // A reader between the writes, as the web list is.
                if (i % 50 == 0) {
                    struDeviceInfo read;
                    if (own.getDeviceBySN(read, device.devSN) != Tab_DeviceInfo::RowState::Found)
                        ++failed;
                }
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failed.load(), 0);

    for (int t = 0; t < kThreads; ++t)
        for (int d = 0; d < kDevicesPerThread; ++d) {
            // The last update of device d was iteration kUpdates - kDevicesPerThread + d.
            const int last = kUpdates - kDevicesPerThread + d;
            struDeviceInfo read;
            ASSERT_EQ(table.getDeviceBySN(read, serial(t, d)), Tab_DeviceInfo::RowState::Found);
            EXPECT_EQ(read.UpgradeCompletionTime, last);
            EXPECT_EQ(read.AppVersion, QStringLiteral("v%1").arg(last));
        }
}
