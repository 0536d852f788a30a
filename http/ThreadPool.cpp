#include "http/ThreadPool.h"

ThreadPool::ThreadPool(int workerCount) : m_workerCount(workerCount) {
    m_workers.reserve(static_cast<size_t>(workerCount));
    try {
        for (int i = 0; i < workerCount; ++i) m_workers.emplace_back([this] { workerLoop(); });
    } catch (...) {
        // No destructor runs for a pool that failed to start: join the workers it has.
        stopAndJoin();
        throw;
    }
}

ThreadPool::~ThreadPool() {
    stopAndJoin();
}

void ThreadPool::stopAndJoin() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_condition.notify_all();
    for (std::thread& worker : m_workers)
        if (worker.joinable()) worker.join();
}

void ThreadPool::workerLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
            if (m_stop && m_tasks.empty()) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}
