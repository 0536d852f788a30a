#include "device/DeviceFileTransfer.h"

bool DeviceFileTransfer::admit(const DeviceFileData& chunk, bool& firstRefusal) {
    firstRefusal = false;
    if (!m_refused && m_bytes + chunk.data.size() <= m_quotaBytes) {
        m_bytes += chunk.data.size();
        return true;
    }
    firstRefusal = !m_refused;
    m_refused = true;
    return false;
}

DeviceFileTransfer::Verdict DeviceFileTransfer::record(const DeviceFileData& chunk, bool written) {
    m_started = true;
    // Chunks run 1..n with n in counter2: a gap, a repeat or a failed write leaves the file short.
    if (!written || chunk.counter1 != m_next || chunk.counter1 > chunk.counter2) m_whole = false;
    m_next = chunk.counter1 == chunk.counter2 ? 1 : chunk.counter1 + 1;
    if (chunk.counter1 != chunk.counter2 || chunk.counter3 != chunk.counter4) return Verdict::More;
    return m_whole ? Verdict::Whole : Verdict::Broken;
}
