#include "core/LatencyHistogramFamily.h"

#include <utility>

LatencyHistogramFamily::LatencyHistogramFamily(std::string name, std::string help)
    : m_name(std::move(name)), m_help(std::move(help)) {}

LatencyHistogram& LatencyHistogramFamily::add(const prometheus::Labels& labels,
                                              const std::vector<double>& bounds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_ptr<LatencyHistogram>& series = m_series[labels];
    if (!series) series = std::make_unique<LatencyHistogram>(bounds);
    return *series;
}

prometheus::MetricFamily LatencyHistogramFamily::collect() const {
    prometheus::MetricFamily family;
    family.name = m_name;
    family.help = m_help;
    family.type = prometheus::MetricType::Histogram;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& series : m_series) {
        prometheus::ClientMetric metric;
        for (const auto& label : series.first) metric.label.push_back({label.first, label.second});
        metric.histogram = series.second->snapshot();
        family.metric.push_back(std::move(metric));
    }
    return family;
}
