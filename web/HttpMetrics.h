#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <QHash>
#include <QString>

#include "web/LegacyRoutes.h"

class KeyedCounters;
class LatencyHistogram;
class LatencyHistogramFamily;
class MetricsRegistry;

// The management port's requests for the metrics: counted by route class and status, timed by
// route class. A route class is a legacy route's class or a v2 route's path pattern, never the
// URL, so the series stay few. A class's series appear with its first request (under the
// family's lock, once); later requests find them without one.
class HttpMetrics {
  public:
    explicit HttpMetrics(MetricsRegistry& registry);
    ~HttpMetrics();

    // The class of a request routed by the legacy table.
    int legacyClass(LegacyRouteId id) const;
    // The class of a request under "/KORVA/v2/" with this decoded path.
    int apiClass(const QString& path) const;

    // The request of that class was answered with status (0: not at all), after elapsed.
    void record(int routeClass, int status, std::chrono::steady_clock::duration elapsed);

  private:
    int addClass(const std::string& label);

    struct RouteClass {
        std::string label;
        std::unique_ptr<KeyedCounters> byStatus;
        std::atomic<LatencyHistogram*> duration{nullptr};
    };
    LatencyHistogram& durationOf(RouteClass& route);

    prometheus::Family<prometheus::Counter>& m_requests;
    LatencyHistogramFamily& m_durations;
    std::vector<std::unique_ptr<RouteClass>> m_classes;  // fixed after construction
    QHash<QString, int> m_byPattern;
    int m_apiUnrouted = 0;
};
