#pragma once

#include <cstddef>

namespace prometheus {
class Counter;
class Gauge;
}  // namespace prometheus
class MetricsRegistry;

// What the download port counts: requests answered and bytes written to clients by status
// class, and the package replies being sent now. Each event is one lock-free update.
class DownloadMetrics {
  public:
    explicit DownloadMetrics(MetricsRegistry& registry);

    void answered(int status);
    void sent(int status, size_t bytes);
    void downloadBegan();
    void downloadEnded();

  private:
    static int statusClass(int status);

    static constexpr int kClasses = 4;  // 2xx to 5xx
    prometheus::Counter* m_requests[kClasses] = {};
    prometheus::Counter* m_bytes[kClasses] = {};
    prometheus::Gauge* m_active = nullptr;
};
