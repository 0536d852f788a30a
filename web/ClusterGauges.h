#pragma once

#include <vector>

#include <prometheus/metric_family.h>

// Gauges of the whole fleet read from the shared database at scrape time: commands and file
// requests waiting, rollout plans per state, and the stalled upgrades. Every instance would read
// the same numbers, so one instance at a time reports them (the caller decides which).
class ClusterGauges {
  public:
    static void collect(std::vector<prometheus::MetricFamily>& out);
};
