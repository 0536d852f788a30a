#pragma once

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

struct event;
struct event_base;

// Runs work on an event loop's own thread and waits for it. evhttp keeps no locks of its own:
// a request, its connection and their buffers may only be touched by the thread that runs the
// loop, or a worker could race the loop freeing a connection whose client went away. Once the
// loop has ended, work runs on the caller's thread (one task at a time).
class LoopInvoker {
  public:
    explicit LoopInvoker(event_base* base);
    ~LoopInvoker();
    LoopInvoker(const LoopInvoker&) = delete;
    LoopInvoker& operator=(const LoopInvoker&) = delete;

    bool isValid() const { return m_wake != nullptr; }
    void invoke(const std::function<void()>& work);
    // Called after the loop thread has been joined: runs what is still queued.
    void loopEnded();

  private:
    struct Task {
        std::function<void()> work;
        std::promise<void> done;
    };
    static void wakeCallback(int fd, short what, void* arg);
    void runQueued();
    void runDirect(Task& task);

    std::mutex m_mutex;  // guards m_tasks and m_loopEnded
    std::deque<std::shared_ptr<Task>> m_tasks;
    bool m_loopEnded = false;
    std::mutex m_directMutex;  // serialises work run without the loop
    event* m_wake = nullptr;
};
