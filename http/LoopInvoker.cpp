#include "http/LoopInvoker.h"

#include <event2/event.h>

LoopInvoker::LoopInvoker(event_base* base) {
    m_wake = event_new(base, -1, 0, &LoopInvoker::wakeCallback, this);
}

LoopInvoker::~LoopInvoker() {
    if (m_wake) event_free(m_wake);
}

void LoopInvoker::invoke(const std::function<void()>& work) {
    auto task = std::make_shared<Task>();
    task->work = work;
    std::future<void> done = task->done.get_future();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_loopEnded) {
            m_tasks.push_back(task);
            // event_active is safe from any thread once libevent runs with thread support.
            event_active(m_wake, EV_READ, 0);
            lock.unlock();
            done.wait();
            return;
        }
    }
    runDirect(*task);
}

void LoopInvoker::loopEnded() {
    std::deque<std::shared_ptr<Task>> rest;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loopEnded = true;
        rest.swap(m_tasks);
    }
    for (auto& task : rest) runDirect(*task);
}

void LoopInvoker::wakeCallback(int, short, void* arg) {
    static_cast<LoopInvoker*>(arg)->runQueued();
}

void LoopInvoker::runQueued() {
    std::deque<std::shared_ptr<Task>> tasks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks) {
        task->work();
        task->done.set_value();
    }
}

void LoopInvoker::runDirect(Task& task) {
    std::lock_guard<std::mutex> lock(m_directMutex);
    task.work();
    task.done.set_value();
}
