#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/metric_family.h>
#include <prometheus/registry.h>

class LatencyHistogramFamily;

// The process's metrics, for the management port's "/metrics": counter and gauge families in a
// prometheus-cpp registry, histograms that observe without a lock, and readings taken at
// scrape time. Owners register their families once, with constant names and help texts, and
// keep references to their series: an event touches only its series.
class MetricsRegistry {
  public:
    // Appends families read at scrape time, on the scraping thread. It must not add or remove
    // collectors itself.
    using Collector = std::function<void(std::vector<prometheus::MetricFamily>&)>;

    MetricsRegistry();
    ~MetricsRegistry();
    MetricsRegistry(const MetricsRegistry&) = delete;
    MetricsRegistry& operator=(const MetricsRegistry&) = delete;

    // The family of this name, made the first time. Each is declared in every scrape, also
    // while it has no series yet.
    prometheus::Family<prometheus::Counter>& counters(const std::string& name,
                                                      const std::string& help);
    prometheus::Family<prometheus::Gauge>& gauges(const std::string& name, const std::string& help);
    LatencyHistogramFamily& histograms(const std::string& name, const std::string& help);

    // Collectors run in the order added; removal waits for a scrape that is running one.
    int addCollector(Collector collector);
    void removeCollector(int id);

    // A family of one unlabelled series, as a collector reports a reading.
    static prometheus::MetricFamily reading(const char* name, const char* help,
                                            prometheus::MetricType type, double value);

    // Everything in the text exposition format 0.0.4, families sorted by name.
    std::string exposition() const;

  private:
    void declare(const std::string& name, const std::string& help, prometheus::MetricType type);

    prometheus::Registry m_registry;
    mutable std::mutex m_familiesMutex;  // guards m_declared and m_histograms
    // Counter and gauge families without their series: prometheus-cpp leaves out empty ones.
    std::map<std::string, prometheus::MetricFamily> m_declared;
    std::map<std::string, std::unique_ptr<LatencyHistogramFamily>> m_histograms;
    // Guards m_collectors and m_nextId; held while the collectors run.
    mutable std::mutex m_collectorsMutex;
    std::map<int, Collector> m_collectors;
    int m_nextId = 1;
};
