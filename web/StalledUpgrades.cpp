#include "web/StalledUpgrades.h"

#include <QList>

#include "api/v2/StallClock.h"
#include "core/Logger.h"
#include "db/Tab_Package.h"
#include "db/Tab_UpgradeAttempt.h"

void StalledUpgrades::collect(std::vector<prometheus::MetricFamily>& out) {
    prometheus::MetricFamily family;
    family.name = "wayfarer_upgrades_stalled";
    family.help = "Upgrades open and without progress for the stall time, by package.";
    family.type = prometheus::MetricType::Gauge;
    QList<struPackageInfo> packages;
    if (!Tab_Package().getAllPackages(packages)) {
        getLogger("WebServer")->info("{}, packages not readable", "StalledUpgrades::collect");
        return;
    }
    Tab_UpgradeAttempt::Filter filter;
    filter.byState = true;
    filter.state = UpgradeAttemptState::Stalled;
    filter.stalledBefore = stalledBefore();
    // Packages are few (one per device type): one count each.
    for (const struPackageInfo& package : packages) {
        filter.packageId = package.id;
        QList<Tab_UpgradeAttempt::Row> none;
        int stalled = 0;
        if (!Tab_UpgradeAttempt::list(filter, 0, 0, none, stalled)) continue;
        prometheus::ClientMetric metric;
        metric.label = {{"package_id", std::to_string(package.id)},
                        {"package_name", package.packageName.toStdString()}};
        metric.gauge.value = stalled;
        family.metric.push_back(std::move(metric));
    }
    out.push_back(std::move(family));
}
