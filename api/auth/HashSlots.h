#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

// Room for password hashes, each some tens of milliseconds of a core and 64 MiB: a few run at
// once and a few more wait for a turn; anyone beyond is turned away at once, so that a burst of
// logins takes neither every worker thread nor the memory.
class HashSlots {
  public:
    HashSlots(int running, int waiting) : m_running(running), m_waiting(waiting) {}

    // Runs work once a slot is free; false, without running it, when every slot and every
    // place in the queue is taken.
    bool run(const std::function<void()>& work);

  private:
    const int m_running;
    const int m_waiting;
    std::mutex m_mutex;  // guards m_busy and m_queued
    std::condition_variable m_freed;
    int m_busy = 0;
    int m_queued = 0;
};
