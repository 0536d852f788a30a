#include "core/KeyedCounters.h"

#include <utility>

KeyedCounters::KeyedCounters(prometheus::Family<prometheus::Counter>& family,
                             prometheus::Labels overflowLabels, int capacity)
    : m_family(family),
      m_overflowLabels(std::move(overflowLabels)),
      m_capacity(capacity),
      m_slots(new Slot[static_cast<size_t>(capacity)]) {}

prometheus::Counter* KeyedCounters::find(long long key) const {
    for (int i = 0; i < m_capacity; ++i) {
        const Slot& slot = m_slots[i];
        // Slots fill in order: the first unused one ends the search.
        if (!slot.used.load(std::memory_order_acquire)) return nullptr;
        if (slot.key == key) return slot.counter;
    }
    return nullptr;
}

prometheus::Counter& KeyedCounters::insert(long long key, const prometheus::Labels& labels) {
    std::lock_guard<std::mutex> lock(m_insertMutex);
    if (prometheus::Counter* known = find(key)) return *known;
    if (m_filled == m_capacity) return m_family.Add(m_overflowLabels);
    Slot& slot = m_slots[m_filled++];
    slot.key = key;
    slot.counter = &m_family.Add(labels);
    slot.used.store(true, std::memory_order_release);
    return *slot.counter;
}
