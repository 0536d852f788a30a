#include "web/HttpMetrics.h"

#include <iterator>

#include <prometheus/counter.h>

#include "api/v2/ApiRoutes.h"
#include "core/KeyedCounters.h"
#include "core/LatencyHistogram.h"
#include "core/LatencyHistogramFamily.h"
#include "core/MetricsRegistry.h"

namespace {

// From a cached page (a millisecond) to an import or export of the whole fleet.
const std::vector<double> kBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                     0.25,  0.5,    1,     2.5,  5,     10,   30};
// Statuses one route answers with: a handful.
constexpr int kStatusesPerRoute = 16;

// In the order of LegacyRouteId: the legacy routes are the first classes, at their ids.
const char* const kLegacyLabels[] = {
    "metrics",
    "readiness",
    "pages",
    "device_list",
    "package_list",
    "upgrade_progress",
    "device_export",
    "reserved",
    "package_download",
    "package_upload",
    "device_import",
    "package_delete",
    "forced_upgrade_clear",
    "other_api",
    "static_file",
    "unrouted",
};
static_assert(std::size(kLegacyLabels) == static_cast<size_t>(LegacyRouteId::Unrouted) + 1,
              "a label for every legacy route");

}  // namespace

HttpMetrics::HttpMetrics(MetricsRegistry& registry)
    : m_requests(registry.counters(
          "wayfarer_http_requests_total",
          "Requests the management port answered, by route class and status code.")),
      m_durations(registry.histograms(
          "wayfarer_http_request_duration_seconds",
          "Time from a management request read whole to its answer handed to the event loop (a "
          "file's body may still be on its way), by route class.")) {
    for (const char* label : kLegacyLabels) addClass(label);
    for (const ApiGroup& group : apiRouter().groups())
        for (const ApiRoute& route : group.routes)
            if (!m_byPattern.contains(route.path))
                m_byPattern.insert(route.path, addClass(route.path.toStdString()));
    m_apiUnrouted = addClass("v2_unrouted");
}

HttpMetrics::~HttpMetrics() = default;

int HttpMetrics::addClass(const std::string& label) {
    auto routeClass = std::make_unique<RouteClass>();
    routeClass->label = label;
    routeClass->byStatus = std::make_unique<KeyedCounters>(
        m_requests, prometheus::Labels{{"route", label}, {"code", "other"}}, kStatusesPerRoute);
    m_classes.push_back(std::move(routeClass));
    return static_cast<int>(m_classes.size()) - 1;
}

LatencyHistogram& HttpMetrics::durationOf(RouteClass& route) {
    if (LatencyHistogram* known = route.duration.load(std::memory_order_acquire)) return *known;
    // Racing first requests get the same series from the family.
    LatencyHistogram* made = &m_durations.add({{"route", route.label}}, kBounds);
    route.duration.store(made, std::memory_order_release);
    return *made;
}

int HttpMetrics::legacyClass(LegacyRouteId id) const {
    return static_cast<int>(id);
}

int HttpMetrics::apiClass(const QString& path) const {
    return m_byPattern.value(apiRouter().patternOf(path), m_apiUnrouted);
}

void HttpMetrics::record(int routeClass, int status, std::chrono::steady_clock::duration elapsed) {
    if (routeClass < 0 || routeClass >= static_cast<int>(m_classes.size())) return;
    RouteClass& route = *m_classes[static_cast<size_t>(routeClass)];
    route.byStatus
        ->at(status,
             [&] {
                 return prometheus::Labels{
                     {"route", route.label},
                     {"code", status > 0 ? std::to_string(status) : std::string("none")}};
             })
        .Increment();
    durationOf(route).observe(elapsed);
}
