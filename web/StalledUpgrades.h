#pragma once

#include <vector>

#include <prometheus/metric_family.h>

// Upgrades silent for the stall time (UpgradeStallMinutes), per package, counted from the
// recorded attempts at each scrape: the console's "stalled" state, as a gauge.
class StalledUpgrades {
  public:
    static void collect(std::vector<prometheus::MetricFamily>& out);
};
