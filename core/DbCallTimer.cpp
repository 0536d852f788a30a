#include "core/DbCallTimer.h"

#include <prometheus/counter.h>

#include "core/LatencyHistogram.h"
#include "core/LatencyHistogramFamily.h"
#include "core/MetricsRegistry.h"

namespace {

// From a tenth of a millisecond (a cached read) to seconds (a write behind a busy file lock).
const std::vector<double> kBounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                     0.05,   0.1,     0.25,   0.5,   1,      2.5,   5};

}  // namespace

DbCallMetrics::DbCallMetrics(MetricsRegistry& registry)
    : calls(registry
                .histograms("wayfarer_db_call_duration_seconds",
                            "Time a table operation held its pooled database connection.")
                .add({}, kBounds)),
      waitTime(registry
                   .histograms("wayfarer_db_pool_wait_duration_seconds",
                               "Time a borrower waited for a free pooled database connection.")
                   .add({}, kBounds)),
      waits(registry
                .counters("wayfarer_db_pool_waits_total",
                          "Borrowers that found every pooled database connection in use and "
                          "waited.")
                .Add({})) {}

DbCallTimer::~DbCallTimer() {
    if (m_metrics) m_metrics->calls.observe(std::chrono::steady_clock::now() - m_started);
}

void DbCallTimer::start(DbCallMetrics* metrics) {
    m_started = std::chrono::steady_clock::now();
    m_metrics = metrics;
}

DbCallTimer::PoolWait::~PoolWait() {
    if (!m_blocked || !m_metrics) return;
    m_metrics->waits.Increment();
    m_metrics->waitTime.observe(std::chrono::steady_clock::now() - m_since);
}

void DbCallTimer::PoolWait::blocked() {
    if (m_blocked) return;
    m_blocked = true;
    m_since = std::chrono::steady_clock::now();
}
