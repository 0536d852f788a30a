#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

// Fixed-size worker pool: tasks run first in, first out; the destructor lets queued tasks
// finish and joins every worker. A worker that cannot be started throws std::system_error from
// the constructor, after the workers already started have been joined.
class ThreadPool {
  public:
    explicit ThreadPool(int workerCount);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    template <class F>
    auto enqueue(F&& f) -> std::future<decltype(f())>;

    int workerCount() const { return m_workerCount; }

  private:
    void workerLoop();
    void stopAndJoin();

    std::vector<std::thread> m_workers;
    std::deque<std::function<void()>> m_tasks;
    std::mutex m_mutex;  // guards m_tasks and m_stop
    std::condition_variable m_condition;
    bool m_stop = false;
    int m_workerCount;
};

template <class F>
auto ThreadPool::enqueue(F&& f) -> std::future<decltype(f())> {
    using Result = decltype(f());
    // std::function needs a copyable target, so the packaged task is shared.
    auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(f));
    std::future<Result> result = task->get_future();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop) throw std::runtime_error("enqueue on stopped ThreadPool");
        m_tasks.emplace_back([task] { (*task)(); });
    }
    m_condition.notify_one();
    return result;
}
