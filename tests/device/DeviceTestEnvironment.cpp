// Points the device tests at a temporary application directory whose config.ini fixes the
// parameters the device tests depend on.
#include <gtest/gtest.h>
#include <QSettings>
#include <QTemporaryDir>
#include <QThreadPool>

#include "core/AppDir.h"

namespace {
class DeviceTestEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setApplicationDirectoryForTesting(m_dir.path());
        QSettings settings(m_dir.filePath("config.ini"), QSettings::IniFormat);
        settings.setValue("LocalParam/NetIP", "10.0.0.5");
        settings.setValue("LocalParam/HttpPort2", 8001);
        settings.setValue("LocalParam/MaxConnCount", 50);
        settings.sync();
        // As in production: each server's idle check holds a pool thread for its lifetime.
        QThreadPool::globalInstance()->setMaxThreadCount(100);
    }

  private:
    QTemporaryDir m_dir;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new DeviceTestEnvironment);
}  // namespace
