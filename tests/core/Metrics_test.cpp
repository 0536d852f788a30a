// The pieces under "/metrics": histogram buckets at their edges, keyed counters filled by racing
// threads and capped, and the format checker that the end-to-end test relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "core/KeyedCounters.h"
#include "core/LatencyHistogram.h"
#include "core/MetricsRegistry.h"
#include "tests/support/MetricsText.h"

namespace {

using namespace std::chrono;

TEST(LatencyHistogramTest, AnObservationOnABoundBelongsToThatBucket) {
    struct Case {
        nanoseconds observed;
        int bucket;  // 0: le 0.001, 1: le 0.01, 2: +Inf
    };
    const Case cases[] = {
        {nanoseconds(-5), 0},  {nanoseconds(0), 0},
        {milliseconds(1), 0},  {milliseconds(1) + nanoseconds(1), 1},
        {milliseconds(10), 1}, {milliseconds(10) + nanoseconds(1), 2},
        {seconds(100), 2},
    };
    for (const Case& c : cases) {
        LatencyHistogram histogram({0.001, 0.01});
        histogram.observe(c.observed);
        const prometheus::ClientMetric::Histogram snapshot = histogram.snapshot();
        ASSERT_EQ(snapshot.bucket.size(), 3u);
        EXPECT_TRUE(std::isinf(snapshot.bucket[2].upper_bound));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(snapshot.bucket[i].cumulative_count, i >= c.bucket ? 1u : 0u)
                << c.observed.count() << " ns, bucket " << i;
        EXPECT_EQ(snapshot.sample_count, 1u);
        EXPECT_DOUBLE_EQ(snapshot.sample_sum, std::max<int64_t>(0, c.observed.count()) / 1e9);
    }
}

TEST(KeyedCountersTest, RacingThreadsCountEveryEventAndKeysPastTheCapShareOneSeries) {
    MetricsRegistry registry;
    auto& family = registry.counters("wayfarer_test_keyed_total", "Test.");
    KeyedCounters counters(family, {{"key", "other"}}, 8);
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    constexpr int kKeys = 12;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round)
                for (int key = 1; key <= kKeys; ++key)
                    counters
                        .at(key,
                            [key] {
                                return prometheus::Labels{{"key", std::to_string(key)}};
                            })
                        .Increment();
        });
    }
    for (std::thread& thread : threads) thread.join();

    MetricsText text;
    QString error;
    ASSERT_TRUE(text.parse(QByteArray::fromStdString(registry.exposition()), error))
        << error.toStdString();
    const QByteArray name = "wayfarer_test_keyed_total";
    for (int key = 1; key <= 8; ++key)
        EXPECT_EQ(text.value(name, {{"key", QByteArray::number(key)}}), kThreads * kRounds) << key;
    EXPECT_EQ(text.value(name, {{"key", "9"}}), -1);  // never a series of its own
    EXPECT_EQ(text.value(name, {{"key", "other"}}), (kKeys - 8) * kThreads * kRounds);
    EXPECT_EQ(counters.find(9), nullptr);
}

TEST(MetricsTextTest, RefusesWhatAScraperWouldRefuse) {
    const QByteArray counter = "# HELP a_total A.\n# TYPE a_total counter\n";
    const QByteArray histogram = "# TYPE h histogram\n";
    struct Case {
        const char* name;
        QByteArray text;
        bool valid;
    };
    const Case cases[] = {
        {"counter with escaped labels", counter + "a_total{k=\"x\\\"y\\\\z\\n\",j=\"\"} 3\n", true},
        {"histogram",
         histogram + "h_bucket{le=\"0.1\"} 1\nh_bucket{le=\"+Inf\"} 2\nh_sum 0.3\nh_count 2\n",
         true},
        {"sample of no declared family", "b 1\n", false},
        {"series twice", counter + "a_total{k=\"1\"} 1\na_total{k=\"1\"} 2\n", false},
        {"family's lines apart",
         counter + "a_total{k=\"1\"} 1\n# TYPE g gauge\ng 1\na_total{k=\"2\"} 1\n", false},
        {"type after samples", "# TYPE g gauge\ng 1\n# TYPE g gauge\n", false},
        {"buckets not cumulative",
         histogram + "h_bucket{le=\"0.1\"} 2\nh_bucket{le=\"+Inf\"} 1\nh_sum 0\nh_count 1\n",
         false},
        {"+Inf bucket differs from the count",
         histogram + "h_bucket{le=\"+Inf\"} 2\nh_sum 0\nh_count 3\n", false},
        {"bad escape", counter + "a_total{k=\"\\t\"} 1\n", false},
        {"value not a number", counter + "a_total one\n", false},
        {"no final line end", counter + "a_total 1", false},
    };
    for (const Case& c : cases) {
        MetricsText text;
        QString error;
        EXPECT_EQ(text.parse(c.text, error), c.valid) << c.name << ": " << error.toStdString();
    }
}

}  // namespace
