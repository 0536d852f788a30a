// What the metrics cost the hot paths: a counter increment, a keyed counter found again, a
// histogram observation (ours without a lock, prometheus-cpp's with one), the timing hook of a
// table operation, the packet count of a message; beside them a real table operation, so the
// share is plain. Threads(2) shows the cost when the two cores count at once.
#include <cstdio>
#include <map>
#include <string>

#include <benchmark/benchmark.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <QCoreApplication>
#include <QTemporaryDir>

#include "core/AppDir.h"
#include "core/DbCallTimer.h"
#include "core/KeyedCounters.h"
#include "core/LatencyHistogram.h"
#include "core/MetricsRegistry.h"
#include "db/DbSchema.h"
#include "db/SQLiteDb.h"
#include "db/Tab_DeviceInfo.h"
#include "device/TerminalMetrics.h"

namespace {

constexpr int kDevices = 1000;
const std::vector<double> kBounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                     0.05,   0.1,     0.25,   0.5,   1,      2.5,   5};

// The families the service registers, in one registry for the whole run.
struct BenchMetrics {
    MetricsRegistry registry;
    DbCallMetrics db{registry};
    TerminalMetrics terminal{registry};
};
BenchMetrics& benchMetrics() {
    static BenchMetrics metrics;
    return metrics;
}

prometheus::Counter& benchCounter() {
    static prometheus::Counter& counter =
        benchMetrics().registry.counters("wayfarer_bench_total", "Bench.").Add({});
    return counter;
}

void CounterIncrement(benchmark::State& state) {
    prometheus::Counter& counter = benchCounter();
    for (auto _ : state) counter.Increment();
}
BENCHMARK(CounterIncrement)->Threads(1)->Threads(2);

void KeyedCounterFound(benchmark::State& state) {
    static KeyedCounters keyed(
        benchMetrics().registry.counters("wayfarer_bench_keyed_total", "Bench."),
        {{"code", "other"}}, 16);
    // The fifth status a route has answered with: four slots are passed over.
    for (int code : {200, 204, 304, 404, 500})
        keyed.at(code, [code] { return prometheus::Labels{{"code", std::to_string(code)}}; });
    for (auto _ : state)
        keyed.at(500, [] { return prometheus::Labels{{"code", "500"}}; }).Increment();
}
BENCHMARK(KeyedCounterFound)->Threads(1)->Threads(2);

void LockFreeHistogramObserve(benchmark::State& state) {
    static LatencyHistogram histogram(kBounds);
    const auto elapsed = std::chrono::microseconds(700);
    for (auto _ : state) histogram.observe(elapsed);
}
BENCHMARK(LockFreeHistogramObserve)->Threads(1)->Threads(2);

void LibraryHistogramObserve(benchmark::State& state) {
    static prometheus::Registry registry;
    static prometheus::Histogram& histogram = prometheus::BuildHistogram()
                                                  .Name("bench_seconds")
                                                  .Help("Bench.")
                                                  .Register(registry)
                                                  .Add({}, kBounds);
    for (auto _ : state) histogram.Observe(0.0007);
}
BENCHMARK(LibraryHistogramObserve)->Threads(1)->Threads(2);

// All a table operation pays: two clock reads and one observation.
void DbCallTimerScope(benchmark::State& state) {
    for (auto _ : state) {
        DbCallTimer timer;
        timer.start(&benchMetrics().db);
    }
}
BENCHMARK(DbCallTimerScope)->Threads(1)->Threads(2);

// All a device message pays: one kind looked up and counted.
void PacketCounted(benchmark::State& state) {
    TerminalMetrics& metrics = benchMetrics().terminal;
    for (auto _ : state) metrics.received(code(Command::Progress));
}
BENCHMARK(PacketCounted);

// The cheapest table operation of a report, its borrow timed by the hook.
void GetDeviceBySN(benchmark::State& state) {
    Tab_DeviceInfo table;
    struDeviceInfo device;
    int n = 0;
    for (auto _ : state) {
        const QString sn = QStringLiteral("SN%1").arg(n++ % kDevices, 7, 10, QLatin1Char('0'));
        benchmark::DoNotOptimize(table.getDeviceBySN(device, sn));
    }
}
BENCHMARK(GetDeviceBySN);

void Scrape(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(benchMetrics().registry.exposition());
}
BENCHMARK(Scrape)->Unit(benchmark::kMicrosecond);

// Keeps each run's CPU time per iteration, for the shares printed at the end.
class ShareReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                seconds[run.benchmark_name()] = run.GetAdjustedCPUTime() * 1e-9;
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("bench"));
    QTemporaryDir dir;
    setApplicationDirectoryForTesting(dir.path());
    SQLiteDb::instance()->setMetrics(&benchMetrics().db);
    if (!DbSchema::ensure()) return 1;
    Tab_DeviceInfo table;
    for (int n = 0; n < kDevices; ++n) {
        struDeviceInfo device;
        device.devSN = QStringLiteral("SN%1").arg(n, 7, 10, QLatin1Char('0'));
        device.devType = QStringLiteral("T100");
        if (!table.insertDevice(device)) return 1;
    }

    benchmark::Initialize(&argc, argv);
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto timer = reporter.seconds.find("DbCallTimerScope/threads:1");
    const auto lookup = reporter.seconds.find("GetDeviceBySN");
    if (timer != reporter.seconds.end() && lookup != reporter.seconds.end())
        std::printf("\nthe timing hook: %.1f ns of a %.2f us table operation (%.2f %%)\n",
                    timer->second * 1e9, lookup->second * 1e6,
                    100 * timer->second / lookup->second);
    benchmark::Shutdown();
    return 0;
}
