#pragma once

#include <vector>

#include <prometheus/metric_family.h>

// The process as the system sees it, read at every scrape (descriptors, threads, memory, CPU
// time, start time), and the version it was built as.
class ProcessMetrics {
  public:
    static void collect(std::vector<prometheus::MetricFamily>& out);
};
