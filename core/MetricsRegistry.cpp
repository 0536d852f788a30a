#include "core/MetricsRegistry.h"

#include <algorithm>
#include <sstream>

#include <prometheus/text_serializer.h>

#include "core/LatencyHistogramFamily.h"
#include "core/ProcessMetrics.h"

MetricsRegistry::MetricsRegistry() {
    addCollector(&ProcessMetrics::collect);
}

MetricsRegistry::~MetricsRegistry() = default;

prometheus::MetricFamily MetricsRegistry::reading(const char* name, const char* help,
                                                  prometheus::MetricType type, double value) {
    prometheus::MetricFamily family;
    family.name = name;
    family.help = help;
    family.type = type;
    prometheus::ClientMetric metric;
    if (type == prometheus::MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
    family.metric.push_back(metric);
    return family;
}

void MetricsRegistry::declare(const std::string& name, const std::string& help,
                              prometheus::MetricType type) {
    std::lock_guard<std::mutex> lock(m_familiesMutex);
    prometheus::MetricFamily& family = m_declared[name];
    family.name = name;
    family.help = help;
    family.type = type;
}

prometheus::Family<prometheus::Counter>& MetricsRegistry::counters(const std::string& name,
                                                                   const std::string& help) {
    declare(name, help, prometheus::MetricType::Counter);
    return prometheus::BuildCounter().Name(name).Help(help).Register(m_registry);
}

prometheus::Family<prometheus::Gauge>& MetricsRegistry::gauges(const std::string& name,
                                                               const std::string& help) {
    declare(name, help, prometheus::MetricType::Gauge);
    return prometheus::BuildGauge().Name(name).Help(help).Register(m_registry);
}

LatencyHistogramFamily& MetricsRegistry::histograms(const std::string& name,
                                                    const std::string& help) {
    std::lock_guard<std::mutex> lock(m_familiesMutex);
    std::unique_ptr<LatencyHistogramFamily>& family = m_histograms[name];
    if (!family) family = std::make_unique<LatencyHistogramFamily>(name, help);
    return *family;
}

int MetricsRegistry::addCollector(Collector collector) {
    std::lock_guard<std::mutex> lock(m_collectorsMutex);
    const int id = m_nextId++;
    m_collectors.emplace(id, std::move(collector));
    return id;
}

void MetricsRegistry::removeCollector(int id) {
    std::lock_guard<std::mutex> lock(m_collectorsMutex);
    m_collectors.erase(id);
}

std::string MetricsRegistry::exposition() const {
    std::vector<prometheus::MetricFamily> families = m_registry.Collect();
    {
        std::lock_guard<std::mutex> lock(m_familiesMutex);
        for (const auto& family : m_declared) families.push_back(family.second);
        for (const auto& family : m_histograms) families.push_back(family.second->collect());
    }
    {
        std::lock_guard<std::mutex> lock(m_collectorsMutex);
        for (const auto& collector : m_collectors) collector.second(families);
    }
    // A family read from several sources is declared once, with all of its series (stable: the
    // registry's own declaration comes first).
    std::stable_sort(families.begin(), families.end(),
                     [](const prometheus::MetricFamily& a, const prometheus::MetricFamily& b) {
                         return a.name < b.name;
                     });
    std::vector<prometheus::MetricFamily> merged;
    for (prometheus::MetricFamily& family : families) {
        if (!merged.empty() && merged.back().name == family.name) {
            for (prometheus::ClientMetric& metric : family.metric)
                merged.back().metric.push_back(std::move(metric));
        } else {
            merged.push_back(std::move(family));
        }
    }
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, merged);
    return out.str();
}
