#pragma once

#include <event2/util.h>

#include <atomic>

struct event;
struct event_base;
struct evconnlistener;

// Takes a loop's listener off the listening socket for pauseMs when an accept fails (no
// descriptor left, no memory): the socket stays readable, so accepting again at once would
// spin and log without end. One line, after logPrefix, is logged per burst of such failures
// across the server: `paused`, shared by its loops, is set then, and cleared by the server once
// it accepts again. Used by both ports.
class AcceptPause {
  public:
    AcceptPause(event_base* base, evconnlistener* listener, int pauseMs, std::atomic<bool>& paused,
                const char* logPrefix = "[Listen Error]");
    ~AcceptPause();
    AcceptPause(const AcceptPause&) = delete;
    AcceptPause& operator=(const AcceptPause&) = delete;

    bool isValid() const { return m_resume != nullptr; }

  private:
    static void acceptFailed(evconnlistener* listener, void*);
    static void resume(evutil_socket_t, short, void* arg);
    void pause(int error);

    evconnlistener* m_listener;
    const int m_pauseMs;
    std::atomic<bool>& m_paused;
    const char* const m_logPrefix;
    event* m_resume = nullptr;
};
