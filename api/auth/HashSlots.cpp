#include "api/auth/HashSlots.h"

bool HashSlots::run(const std::function<void()>& work) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_busy >= m_running) {
            if (m_queued >= m_waiting) return false;
            ++m_queued;
            m_freed.wait(lock, [this] { return m_busy < m_running; });
            --m_queued;
        }
        ++m_busy;
    }
    work();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_busy;
    }
    m_freed.notify_one();
    return true;
}
