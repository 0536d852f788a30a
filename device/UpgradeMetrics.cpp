#include "device/UpgradeMetrics.h"

#include "core/MetricsRegistry.h"

namespace {

constexpr int kPackages = 64;
const prometheus::Labels kOtherPackages = {{"package_id", "other"}, {"package_name", "other"}};

}  // namespace

UpgradeMetrics::UpgradeMetrics(MetricsRegistry& registry)
    : m_started(registry.counters("wayfarer_upgrades_started_total",
                                  "Upgrades handed to terminals (the download address sent), by "
                                  "package."),
                kOtherPackages, kPackages),
      m_completed(
          registry.counters("wayfarer_upgrades_completed_total",
                            "Upgrades started by this process that reached progress 100, by "
                            "package."),
          kOtherPackages, kPackages) {}

void UpgradeMetrics::started(const QString& devSN, qint32 packageId, const QString& packageName) {
    const auto labels = [&] {
        return prometheus::Labels{{"package_id", std::to_string(packageId)},
                                  {"package_name", packageName.toStdString()}};
    };
    m_started.at(packageId, labels).Increment();
    // Made now, so that a package's completions read 0 rather than nothing.
    prometheus::Counter& completed = m_completed.at(packageId, labels);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.insert(devSN, &completed);
}

void UpgradeMetrics::progressed(const QString& devSN, int percent) {
    if (percent != 100) return;
    prometheus::Counter* completed = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        completed = m_open.take(devSN);
    }
    if (completed) completed->Increment();
}
