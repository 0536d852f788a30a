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
                            "Upgrades started by this process whose completion (progress 100) "
                            "the database stored, by package."),
          kOtherPackages, kPackages) {}

long long UpgradeMetrics::keyOf(qint32 packageId, const QString& packageName) {
    const QPair<qint32, QString> package(packageId, packageName);
    const auto known = m_keys.constFind(package);
    if (known != m_keys.constEnd()) return *known;
    // Past the bound the counters are full: a new key lands in their shared series.
    if (m_keys.size() >= kPackages) return -1;
    return *m_keys.insert(package, m_keys.size());
}

void UpgradeMetrics::started(const QString& devSN, qint32 packageId, const QString& packageName) {
    const auto labels = [&] {
        return prometheus::Labels{{"package_id", std::to_string(packageId)},
                                  {"package_name", packageName.toStdString()}};
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    const long long key = keyOf(packageId, packageName);
    m_started.at(key, labels).Increment();
    // Made now, so that a package's completions read 0 rather than nothing.
    m_open.insert(devSN, &m_completed.at(key, labels));
}

void UpgradeMetrics::completed(const QString& devSN) {
    prometheus::Counter* completed = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        completed = m_open.take(devSN);
    }
    if (completed) completed->Increment();
}
