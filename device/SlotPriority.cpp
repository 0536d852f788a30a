#include "device/SlotPriority.h"

#include <algorithm>

int SlotPriority::marginFor(int connectionLimit) {
    // Each costs two descriptors of the reserve beside the terminals' budget (at most 128 of
    // its 1024); enough that a fleet reconnecting at once does not queue for a handful.
    return std::clamp(connectionLimit / 10, 4, 64);
}

quint64 SlotPriority::admitProvisionally(qintptr socketId) {
    if (m_unprovenSeq.isEmpty() || m_provisional.size() >= m_margin) return 0;
    m_provisional.insert(socketId, ++m_sequence);
    return m_sequence;
}

void SlotPriority::unproven(qintptr socketId) {
    m_unprovenSeq.insert(socketId, ++m_sequence);
}

qintptr SlotPriority::settle(qintptr socketId, const std::function<qint64(qintptr)>& lastActiveMs) {
    m_provisional.remove(socketId);
    qintptr victim = -1;
    qint64 victimActive = 0;
    quint64 victimSeq = 0;
    for (auto it = m_unprovenSeq.cbegin(); it != m_unprovenSeq.cend(); ++it) {
        const qint64 active = lastActiveMs(it.key());
        if (victim < 0 || active < victimActive ||
            (active == victimActive && it.value() < victimSeq)) {
            victim = it.key();
            victimActive = active;
            victimSeq = it.value();
        }
    }
    return victim;
}

void SlotPriority::forget(qintptr socketId) {
    m_provisional.remove(socketId);
    m_unprovenSeq.remove(socketId);
}
