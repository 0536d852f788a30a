#include "core/DbCallTimer.h"

#include <prometheus/counter.h>

#include "core/LatencyHistogram.h"
#include "core/LatencyHistogramFamily.h"
#include "core/MetricsRegistry.h"

namespace {

// From a tenth of a millisecond (a cached read) to seconds (a write behind a busy file lock).
const std::vector<double> kBounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                     0.05,   0.1,     0.25,   0.5,   1,      2.5,   5};

struct DbMetrics {
    LatencyHistogram& calls;
    LatencyHistogram& waitTime;
    prometheus::Counter& waits;
};

DbMetrics& metrics() {
    static DbMetrics* self = [] {
        MetricsRegistry& registry = MetricsRegistry::instance();
        return new DbMetrics{
            registry
                .histograms("wayfarer_db_call_duration_seconds",
                            "Time a table operation held its pooled database connection.")
                .add({}, kBounds),
            registry
                .histograms("wayfarer_db_pool_wait_duration_seconds",
                            "Time a borrower waited for a free pooled database connection.")
                .add({}, kBounds),
            registry
                .counters("wayfarer_db_pool_waits_total",
                          "Borrowers that found every pooled database connection in use and "
                          "waited.")
                .Add({}),
        };
    }();
    return *self;  // never destroyed, as the registry it points into
}

}  // namespace

void DbCallTimer::declare() {
    metrics();
}

DbCallTimer::~DbCallTimer() {
    if (m_running) metrics().calls.observe(std::chrono::steady_clock::now() - m_started);
}

void DbCallTimer::start() {
    m_started = std::chrono::steady_clock::now();
    m_running = true;
}

DbCallTimer::PoolWait::~PoolWait() {
    if (!m_blocked) return;
    DbMetrics& db = metrics();
    db.waits.Increment();
    db.waitTime.observe(std::chrono::steady_clock::now() - m_since);
}

void DbCallTimer::PoolWait::blocked() {
    if (m_blocked) return;
    m_blocked = true;
    m_since = std::chrono::steady_clock::now();
}
