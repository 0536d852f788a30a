#include "device/ReportWriteQueue.h"

#include <cstring>

#include <QSet>

#include <prometheus/counter.h>
#include <prometheus/gauge.h>

#include "core/Logger.h"
#include "core/MetricsRegistry.h"
#include "db/PinnedTransaction.h"
#include "db/SQLiteDb.h"

namespace {
auto log() {
    return getLogger("ReportWriteQueue");
}
}  // namespace

ReportWriteQueue::ReportWriteQueue(MetricsRegistry& registry, int limit,
                                   std::function<bool()> isAway)
    : m_limit(limit > 0 ? limit : kDefaultLimit), m_isAway(std::move(isAway)) {
    if (!m_isAway) m_isAway = [] { return SQLiteDb::instance()->isAway(); };
    m_queued = &registry
                    .gauges("wayfarer_report_writes_queued",
                            "Writes of what terminals reported, waiting for the database.")
                    .Add({});
    m_retried = &registry
                     .counters("wayfarer_report_writes_retried_total",
                               "Writes that waited for the database and were written later.")
                     .Add({});
    m_failed = &registry
                    .counters("wayfarer_report_writes_failed_total",
                              "Writes of what terminals reported that were dropped: refused by "
                              "the database, or over the waiting limit.")
                    .Add({});
    m_timer.setInterval(kReplayMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { replay(); });
}

void ReportWriteQueue::submit(const QString& devSN, const char* what, Write write, bool latest) {
    const auto waiting = m_waiting.find(devSN);
    if (waiting != m_waiting.end()) {
        if (latest && std::strcmp(waiting->back().what, what) == 0) {
            waiting->back().write = std::move(write);
            return;
        }
        enqueue(devSN, Entry{what, std::move(write)}, false);
        return;
    }
    run(devSN, Entry{what, std::move(write)});
}

bool ReportWriteQueue::run(const QString& devSN, Entry entry) {
    PinnedTransaction* transaction = PinnedTransaction::current();
    if (transaction && transaction->isOpen()) {
        entry.written = entry.write();
        if (m_watched != transaction) {
            m_watched = transaction;
            transaction->onEnd([this](bool committed) { transactionEnded(committed); });
        }
        m_inTransaction.push_back({devSN, std::move(entry)});
        return true;
    }
    if (entry.write()) return true;
    if (!m_isAway()) {
        dropped(devSN, entry.what);
        return true;
    }
    enqueue(devSN, std::move(entry), false);
    return false;
}

void ReportWriteQueue::flush(const QString& devSN) {
    const auto found = m_waiting.find(devSN);
    if (found == m_waiting.end() || m_isAway()) return;
    std::deque<Entry> entries = std::move(*found);
    m_waiting.erase(found);
    m_size -= static_cast<int>(entries.size());
    // Its place in m_order goes stale; replay() passes over it.
    bool waits = false;
    for (Entry& entry : entries) {
        if (waits)
            enqueue(devSN, std::move(entry), true);
        else
            waits = !run(devSN, std::move(entry));
    }
    sizeChanged();
}

void ReportWriteQueue::enqueue(const QString& devSN, Entry entry, bool already) {
    if (!already && m_size >= m_limit) {
        dropped(devSN, entry.what);
        if (!m_overflowLogged)
            log()->warn("{} writes wait for the database already: further ones are dropped",
                        m_size);
        m_overflowLogged = true;
        return;
    }
    if (m_size == 0) log()->warn("the database is away: what terminals report waits to be written");
    auto waiting = m_waiting.find(devSN);
    if (waiting == m_waiting.end()) {
        waiting = m_waiting.insert(devSN, {});
        m_order.push_back(devSN);
    }
    entry.written = false;
    waiting->push_back(std::move(entry));
    ++m_size;
    sizeChanged();
}

void ReportWriteQueue::dropped(const QString& devSN, const char* what) {
    m_failed->Increment();
    log()->info("{}, write failed for {}", what, devSN.toStdString());
}

void ReportWriteQueue::transactionEnded(bool committed) {
    std::vector<Ran> ran;
    ran.swap(m_inTransaction);
    m_watched = nullptr;
    if (committed) {
        for (const Ran& one : ran)
            if (!one.entry.written) dropped(one.devSN, one.entry.what);
        return;
    }
    // Nothing of the batch is written: its writes go before anything of theirs that waits.
    if (!ran.empty() && m_size == 0)
        log()->warn("a batch did not commit: what terminals reported in it waits to be written");
    for (const Ran& one : ran) {
        if (m_waiting.contains(one.devSN)) continue;
        m_waiting.insert(one.devSN, {});
        m_order.push_back(one.devSN);
    }
    for (auto it = ran.rbegin(); it != ran.rend(); ++it) {
        it->entry.written = false;
        m_waiting[it->devSN].push_front(std::move(it->entry));
        ++m_size;
    }
    sizeChanged();
}

int ReportWriteQueue::replay(int most) {
    if (m_size == 0) return 0;
    PinnedTransaction transaction;
    if (!transaction.isOpen()) return 0;
    // Per terminal in m_order's order, how many of its first writes ran; -1: a stale place.
    std::vector<int> ran;
    QSet<QString> seen;
    int count = 0;
    for (const QString& devSN : m_order) {
        if (count >= most) break;
        const auto waiting = m_waiting.find(devSN);
        if (waiting == m_waiting.end() || seen.contains(devSN)) {
            ran.push_back(-1);
            continue;
        }
        seen.insert(devSN);
        int done = 0;
        for (Entry& entry : *waiting) {
            if (count >= most) break;
            bool written = false;
            transaction.guard([&] { written = entry.write(); });
            if (!written && m_isAway()) return 0;  // rolled back: all of it waits
            entry.written = written;
            ++done;
            ++count;
        }
        ran.push_back(done);
    }
    if (!transaction.commit()) return 0;

    int left = 0;
    for (int done : ran) {
        const QString devSN = m_order.front();
        if (done >= 0) {
            auto waiting = m_waiting.find(devSN);
            for (int i = 0; i < done; ++i) {
                const Entry& entry = waiting->front();
                if (entry.written)
                    m_retried->Increment();
                else
                    dropped(devSN, entry.what);
                waiting->pop_front();
                --m_size;
                ++left;
            }
            // The last terminal may have more than this round took: it keeps its place.
            if (!waiting->empty()) break;
            m_waiting.erase(waiting);
        }
        m_order.pop_front();
    }
    sizeChanged();
    if (m_size == 0) log()->warn("the database is back: every write that waited is written");
    return left;
}

void ReportWriteQueue::sizeChanged() {
    m_queued->Set(m_size);
    if (m_size == 0) {
        m_overflowLogged = false;
        m_timer.stop();
        // Places of flushed terminals are all that can be left.
        m_order.clear();
    } else if (!m_timer.isActive()) {
        m_timer.start();
    }
}
