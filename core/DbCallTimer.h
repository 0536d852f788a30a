#pragma once

#include <chrono>

class LatencyHistogram;
class MetricsRegistry;
namespace prometheus {
class Counter;
}

// What the metrics learn from the database: how long each table operation holds its pooled
// connection, and how often and how long borrowers wait for a free one. Made once with the
// registry, which lists the families from then on.
class DbCallMetrics {
  public:
    explicit DbCallMetrics(MetricsRegistry& registry);

    LatencyHistogram& calls;
    LatencyHistogram& waitTime;
    prometheus::Counter& waits;
};

// The one hook through which the pool and its borrowed connection report to DbCallMetrics; a
// database of another kind takes it over as it is. Without metrics nothing is observed.
class DbCallTimer {
  public:
    DbCallTimer() = default;
    // Observes the call if start() was called.
    ~DbCallTimer();
    DbCallTimer(const DbCallTimer&) = delete;
    DbCallTimer& operator=(const DbCallTimer&) = delete;

    // The borrower has its connection: the call is timed from here.
    void start(DbCallMetrics* metrics);

    // A borrower's wait for a free connection: blocked() before each time it blocks; if it
    // blocked at all, the end of its scope counts one wait, timed from the first block.
    class PoolWait {
      public:
        explicit PoolWait(DbCallMetrics* metrics) : m_metrics(metrics) {}
        ~PoolWait();
        PoolWait(const PoolWait&) = delete;
        PoolWait& operator=(const PoolWait&) = delete;
        void blocked();

      private:
        DbCallMetrics* const m_metrics;
        std::chrono::steady_clock::time_point m_since{};
        bool m_blocked = false;
    };

  private:
    DbCallMetrics* m_metrics = nullptr;
    std::chrono::steady_clock::time_point m_started{};
};
