#pragma once

#include <deque>
#include <functional>
#include <vector>

#include <QHash>
#include <QString>
#include <QTimer>

namespace prometheus {
class Counter;
class Gauge;
}  // namespace prometheus
class MetricsRegistry;

// What terminals report is written through here. A write that fails because the database is
// away, or whose batch did not commit, waits in memory and is written when the database is
// back: bounded, oldest first, and in order per terminal (a terminal's later writes wait behind
// its earlier ones). A write that fails for another reason is dropped, as before, and counted.
// Main thread only.
class ReportWriteQueue {
  public:
    // True when written, or when there is nothing left to write.
    using Write = std::function<bool()>;
    static constexpr int kDefaultLimit = 100000;
    static constexpr int kReplayMs = 500;
    static constexpr int kReplayBatch = 512;

    // Holds at most limit writes; isAway says whether the database is away (by default the
    // pool's word).
    ReportWriteQueue(MetricsRegistry& registry, int limit = kDefaultLimit,
                     std::function<bool()> isAway = {});
    ReportWriteQueue(const ReportWriteQueue&) = delete;
    ReportWriteQueue& operator=(const ReportWriteQueue&) = delete;

    // Runs write now, unless devSN has writes waiting: then it waits behind them. Inside an open
    // transaction it is kept until the transaction ends, so that a failed commit loses nothing.
    // With latest, a write that waits replaces devSN's last waiting one when that is of the same
    // kind (what): of a run of progress steps only the newest is worth writing.
    void submit(const QString& devSN, const char* what, Write write, bool latest = false);
    // Runs devSN's waiting writes now, so that what is read of it next is up to date.
    void flush(const QString& devSN);
    // Writes up to most waiting writes in one transaction; those that fail while the database
    // is still away stay. Called by the queue's own timer; returns how many left the queue.
    int replay(int most = kReplayBatch);

    // Counts and logs a write the database refused while it was there.
    void dropped(const QString& devSN, const char* what);

    int size() const { return m_size; }
    bool away() const { return m_isAway(); }
    bool waiting(const QString& devSN) const { return m_waiting.contains(devSN); }

  private:
    struct Entry {
        const char* what;
        Write write;
        bool written = false;
    };
    struct Ran {
        QString devSN;
        Entry entry;
    };
    // Runs entry unless the database keeps it; false when it had to wait.
    bool run(const QString& devSN, Entry entry);
    // already: the write was counted once, and waits again; it is never dropped for the limit.
    void enqueue(const QString& devSN, Entry entry, bool already);
    void transactionEnded(bool committed);
    void sizeChanged();

    const int m_limit;
    std::function<bool()> m_isAway;
    QHash<QString, std::deque<Entry>> m_waiting;
    std::deque<QString> m_order;  // terminals with writes waiting, the longest waiting first
    int m_size = 0;
    bool m_overflowLogged = false;
    // Writes run inside the transaction open now, kept until it ends.
    std::vector<Ran> m_inTransaction;
    const void* m_watched = nullptr;  // the transaction they belong to
    QTimer m_timer;
    prometheus::Gauge* m_queued = nullptr;
    prometheus::Counter* m_retried = nullptr;
    prometheus::Counter* m_failed = nullptr;
};
