#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <prometheus/client_metric.h>

// A histogram of durations that observes without a lock: an observation is a search among a
// dozen bounds and two relaxed atomic additions (prometheus-cpp's own histogram takes a mutex
// for each). A scrape reads the buckets one by one, so it may see an observation in its bucket
// and not yet in the sum; the count is always the buckets' total.
class LatencyHistogram {
  public:
    // Upper bounds in seconds, ascending; the +Inf bucket is implied.
    explicit LatencyHistogram(const std::vector<double>& boundsSeconds);
    LatencyHistogram(const LatencyHistogram&) = delete;
    LatencyHistogram& operator=(const LatencyHistogram&) = delete;

    void observe(std::chrono::steady_clock::duration elapsed);

    prometheus::ClientMetric::Histogram snapshot() const;

  private:
    std::vector<double> m_boundsSeconds;
    std::vector<int64_t> m_boundsNs;
    // One more than the bounds: the last counts what exceeds them all.
    std::unique_ptr<std::atomic<uint64_t>[]> m_counts;
    std::atomic<uint64_t> m_sumNs{0};
};
