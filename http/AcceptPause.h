#pragma once

#include <event2/util.h>

struct event;
struct event_base;
struct evconnlistener;
struct ServerLimits;

// Takes a loop's listener off the listening socket for a moment when an accept fails (no
// descriptor left, no memory): the socket stays readable, so accepting again at once would
// spin and log without end. One line is logged per burst of such failures across the server.
class AcceptPause {
  public:
    AcceptPause(event_base* base, evconnlistener* listener, ServerLimits& limits);
    ~AcceptPause();
    AcceptPause(const AcceptPause&) = delete;
    AcceptPause& operator=(const AcceptPause&) = delete;

    bool isValid() const { return m_resume != nullptr; }

  private:
    static void acceptFailed(evconnlistener* listener, void*);
    static void resume(evutil_socket_t, short, void* arg);
    void pause(int error);

    evconnlistener* m_listener;
    ServerLimits& m_limits;
    event* m_resume = nullptr;
};
