#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <prometheus/labels.h>
#include <prometheus/metric_family.h>

#include "core/LatencyHistogram.h"

// The series of one histogram metric, told apart by their labels. Series are added when their
// owner is set up and kept for the life of the process; observing one takes no lock.
class LatencyHistogramFamily {
  public:
    LatencyHistogramFamily(std::string name, std::string help);

    // The series with these labels, made with these bounds the first time.
    LatencyHistogram& add(const prometheus::Labels& labels, const std::vector<double>& bounds);

    prometheus::MetricFamily collect() const;

  private:
    const std::string m_name;
    const std::string m_help;
    mutable std::mutex m_mutex;  // guards m_series (not the histograms' counts)
    std::map<prometheus::Labels, std::unique_ptr<LatencyHistogram>> m_series;
};
