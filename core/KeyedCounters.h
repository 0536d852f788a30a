#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/labels.h>

// Counters of one family told apart by a small integer key (a status code, a package id) whose
// label values are known only when the key first occurs. The first event of a key adds its
// series under a lock; every later one finds it again among a fixed table of slots with atomic
// loads alone. Keys beyond the table's capacity share one overflow series, which bounds the
// family's cardinality.
class KeyedCounters {
  public:
    KeyedCounters(prometheus::Family<prometheus::Counter>& family,
                  prometheus::Labels overflowLabels, int capacity);
    KeyedCounters(const KeyedCounters&) = delete;
    KeyedCounters& operator=(const KeyedCounters&) = delete;

    // The key's counter; labelsOf() gives its series' labels and is called on a key's first
    // event only.
    template <typename LabelsOf>
    prometheus::Counter& at(long long key, LabelsOf&& labelsOf) {
        if (prometheus::Counter* known = find(key)) return *known;
        return insert(key, labelsOf());
    }

    // Null while the key has had no event (or overflowed).
    prometheus::Counter* find(long long key) const;

  private:
    struct Slot {
        std::atomic<bool> used{false};  // published after key and counter are written
        long long key = 0;
        prometheus::Counter* counter = nullptr;
    };

    prometheus::Counter& insert(long long key, const prometheus::Labels& labels);

    prometheus::Family<prometheus::Counter>& m_family;
    const prometheus::Labels m_overflowLabels;
    const int m_capacity;
    std::unique_ptr<Slot[]> m_slots;
    std::mutex m_insertMutex;  // one writer fills the slots, in order
    int m_filled = 0;          // guarded by m_insertMutex
};
