#include "download/DownloadMetrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>

#include "core/MetricsRegistry.h"

namespace {
const char* const kClassLabels[] = {"2xx", "3xx", "4xx", "5xx"};
}

DownloadMetrics::DownloadMetrics(MetricsRegistry& registry) {
    auto& requests = registry.counters("wayfarer_download_requests_total",
                                       "Requests the download port answered, by status class.");
    auto& bytes = registry.counters(
        "wayfarer_download_sent_bytes_total",
        "Bytes the download port wrote to its clients (heads and bodies), by status class.");
    for (int i = 0; i < kClasses; ++i) {
        m_requests[i] = &requests.Add({{"status_class", kClassLabels[i]}});
        m_bytes[i] = &bytes.Add({{"status_class", kClassLabels[i]}});
    }
    m_active = &registry
                    .gauges("wayfarer_downloads_active",
                            "Package replies (200 or 206) of the download port being sent now.")
                    .Add({});
}

int DownloadMetrics::statusClass(int status) {
    if (status < 300) return 0;
    if (status < 400) return 1;
    return status < 500 ? 2 : 3;
}

void DownloadMetrics::answered(int status) {
    m_requests[statusClass(status)]->Increment();
}

void DownloadMetrics::sent(int status, size_t bytes) {
    m_bytes[statusClass(status)]->Increment(static_cast<double>(bytes));
}

void DownloadMetrics::downloadBegan() {
    m_active->Increment();
}

void DownloadMetrics::downloadEnded() {
    m_active->Decrement();
}
