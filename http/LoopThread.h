#pragma once

#include <thread>

struct event_base;

// The thread an event loop runs on, for both ports: the loop runs until stop(), also while it
// has nothing to wait for (its listener paused). libevent's locking must be on, as stop() comes
// from another thread.
class LoopThread {
  public:
    LoopThread() = default;
    ~LoopThread() { stop(); }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    // False when no thread could be made.
    bool start(event_base* base);
    // Ends the loop and joins the thread; false, doing nothing, when it was not running.
    bool stop();

  private:
    event_base* m_base = nullptr;
    std::thread m_thread;
};
