// The rules of the writes that wait for the database: a batch that did not commit loses
// nothing, a terminal's writes keep their order, the limit holds and is counted.
#include <gtest/gtest.h>

#include <QStringList>

#include "core/MetricsRegistry.h"
#include "db/PinnedTransaction.h"
#include "device/ReportWriteQueue.h"
#include "tests/support/MetricsText.h"

TEST(ReportWriteQueue, KeepsWhatCouldNotBeWrittenInOrderAndWithinItsLimit) {
    MetricsRegistry registry;
    bool away = false;
    ReportWriteQueue queue(registry, 5, [&] { return away; });
    QStringList written;
    const auto write = [&](const QString& tag) {
        return [&, tag] {
            if (away) return false;
            written << tag;
            return true;
        };
    };

    {
        PinnedTransaction batch;
        ASSERT_TRUE(batch.isOpen());
        queue.submit("A", "a1", write("a1"));
        queue.submit("B", "b1", write("b1"));
    }  // left without a commit: nothing of it is written
    EXPECT_EQ(queue.size(), 2);
    written.clear();

    away = true;
    queue.submit("C", "c1", write("c1"));
    queue.submit("A", "a2", write("a2"));
    queue.submit("D", "d1", write("d1"));
    queue.submit("D", "d2", write("d2"));  // over the limit: dropped
    EXPECT_EQ(queue.size(), 5);
    EXPECT_EQ(queue.replay(), 0);

    away = false;
    EXPECT_EQ(queue.replay(1), 1);
    queue.submit("A", "a3", write("a3"));  // A still waits: a3 goes behind a2
    queue.submit("E", "e1", write("e1"));  // nothing of E waits: written at once
    EXPECT_EQ(written, QStringList({"a1", "e1"}));
    EXPECT_EQ(queue.replay(), 5);
    EXPECT_EQ(written, QStringList({"a1", "e1", "a2", "a3", "b1", "c1", "d1"}));
    EXPECT_EQ(queue.size(), 0);

    // Of a run of waiting progress steps only the newest is written.
    away = true;
    queue.submit("F", "step", write("f1"), true);
    queue.submit("F", "step", write("f2"), true);
    away = false;
    EXPECT_EQ(queue.replay(), 1);
    EXPECT_EQ(written.last(), "f2");

    MetricsText metrics;
    QString error;
    ASSERT_TRUE(metrics.parse(QByteArray::fromStdString(registry.exposition()), error))
        << error.toStdString();
    EXPECT_EQ(metrics.value("wayfarer_report_writes_queued"), 0);
    EXPECT_EQ(metrics.value("wayfarer_report_writes_retried_total"), 7);
    EXPECT_EQ(metrics.value("wayfarer_report_writes_failed_total"), 1);
}
