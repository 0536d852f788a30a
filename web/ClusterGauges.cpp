#include "web/ClusterGauges.h"

#include "db/FleetCounts.h"
#include "web/StalledUpgrades.h"

namespace {
prometheus::MetricFamily gauge(const char* name, const char* help) {
    prometheus::MetricFamily family;
    family.name = name;
    family.help = help;
    family.type = prometheus::MetricType::Gauge;
    return family;
}

void add(prometheus::MetricFamily& family, const prometheus::ClientMetric::Label& label,
         double value) {
    prometheus::ClientMetric metric;
    metric.label = {label};
    metric.gauge.value = value;
    family.metric.push_back(std::move(metric));
}
}  // namespace

void ClusterGauges::collect(std::vector<prometheus::MetricFamily>& out) {
    int commands = 0, files = 0;
    if (FleetCounts::pendingRequests(commands, files)) {
        auto family = gauge("wayfarer_requests_pending",
                            "Terminals with a configuration command or a file request waiting for "
                            "their next report, whole fleet.");
        add(family, {"kind", "command"}, commands);
        add(family, {"kind", "file"}, files);
        out.push_back(std::move(family));
    }
    QList<QPair<QString, int>> states;
    if (FleetCounts::rolloutStates(states)) {
        auto family = gauge("wayfarer_rollouts", "Rollout plans by state, whole fleet.");
        for (const auto& state : states)
            add(family, {"state", state.first.toStdString()}, state.second);
        out.push_back(std::move(family));
    }
    // A database that cannot be read leaves these out of the scrape rather than reading 0.
    StalledUpgrades::collect(out);
}
