#include "http/LoopThread.h"

#include <event2/event.h>

#include <system_error>

bool LoopThread::start(event_base* base) {
    try {
        m_thread = std::thread([base] { event_base_loop(base, EVLOOP_NO_EXIT_ON_EMPTY); });
    } catch (const std::system_error&) {
        return false;
    }
    m_base = base;
    return true;
}

bool LoopThread::stop() {
    if (!m_thread.joinable()) return false;
    const timeval zero{0, 0};
    // Asking fails only when the loop's lock cannot be had for a moment.
    for (int i = 0; i < 6 && event_base_loopexit(m_base, &zero) != 0; ++i) {
    }
    m_thread.join();
    return true;
}
