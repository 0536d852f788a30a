#include "core/LatencyHistogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

LatencyHistogram::LatencyHistogram(const std::vector<double>& boundsSeconds)
    : m_boundsSeconds(boundsSeconds),
      m_counts(new std::atomic<uint64_t>[boundsSeconds.size() + 1]) {
    m_boundsNs.reserve(boundsSeconds.size());
    for (double bound : boundsSeconds) m_boundsNs.push_back(std::llround(bound * 1e9));
    for (size_t i = 0; i <= boundsSeconds.size(); ++i) m_counts[i].store(0);
}

void LatencyHistogram::observe(std::chrono::steady_clock::duration elapsed) {
    const int64_t ns =
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
    size_t bucket = 0;
    // "le": a duration equal to a bound belongs to that bound's bucket.
    while (bucket < m_boundsNs.size() && ns > m_boundsNs[bucket]) ++bucket;
    m_counts[bucket].fetch_add(1, std::memory_order_relaxed);
    m_sumNs.fetch_add(static_cast<uint64_t>(ns), std::memory_order_relaxed);
}

prometheus::ClientMetric::Histogram LatencyHistogram::snapshot() const {
    prometheus::ClientMetric::Histogram out;
    uint64_t cumulative = 0;
    for (size_t i = 0; i <= m_boundsSeconds.size(); ++i) {
        cumulative += m_counts[i].load(std::memory_order_relaxed);
        const double bound = i < m_boundsSeconds.size() ? m_boundsSeconds[i]
                                                        : std::numeric_limits<double>::infinity();
        out.bucket.push_back({cumulative, bound});
    }
    out.sample_count = cumulative;
    out.sample_sum = static_cast<double>(m_sumNs.load(std::memory_order_relaxed)) / 1e9;
    return out;
}
