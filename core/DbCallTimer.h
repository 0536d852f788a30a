#pragma once

#include <chrono>

// What the metrics learn from the database, through this one hook: how long each table
// operation holds its pooled connection, and how often and how long borrowers wait for a free
// one. The pool and its borrowed connection call it; a database of another kind takes it over
// as it is.
class DbCallTimer {
  public:
    DbCallTimer() = default;
    // Observes the call if start() was called.
    ~DbCallTimer();
    DbCallTimer(const DbCallTimer&) = delete;
    DbCallTimer& operator=(const DbCallTimer&) = delete;

    // The borrower has its connection: the call is timed from here.
    void start();

    // A borrower's wait for a free connection: blocked() before each time it blocks; if it
    // blocked at all, the end of its scope counts one wait, timed from the first block.
    class PoolWait {
      public:
        PoolWait() = default;
        ~PoolWait();
        PoolWait(const PoolWait&) = delete;
        PoolWait& operator=(const PoolWait&) = delete;
        void blocked();

      private:
        std::chrono::steady_clock::time_point m_since{};
        bool m_blocked = false;
    };

    // Declares the families before the first call, so that a scrape lists them.
    static void declare();

  private:
    std::chrono::steady_clock::time_point m_started{};
    bool m_running = false;
};
