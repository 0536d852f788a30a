#pragma once

#include <event2/util.h>

#include <memory>
#include <unordered_set>

#include "http/AcceptPause.h"
#include "http/LoopThread.h"

struct event_base;
struct evconnlistener;
class DownloadConnection;
class DownloadServer;

// One event loop of the download port, on a thread of its own: accepts on the shared listening
// socket and runs every connection it accepted to its end. Its connections are touched by no
// other thread.
class DownloadLoop {
  public:
    explicit DownloadLoop(DownloadServer& server);
    // Ends the thread, then closes whatever connections are still open.
    ~DownloadLoop();
    DownloadLoop(const DownloadLoop&) = delete;
    DownloadLoop& operator=(const DownloadLoop&) = delete;

    // Starts accepting on listenFd (already listening; the loop keeps a duplicate of its own).
    bool open(int listenFd);
    void stop();

    const DownloadServer& server() const { return m_server; }
    event_base* base() const { return m_base; }
    // Deletes a connection that is done; called from its own callbacks.
    void release(DownloadConnection* connection);

  private:
    static void acceptCallback(evconnlistener*, evutil_socket_t fd, sockaddr*, int, void* arg);

    DownloadServer& m_server;
    event_base* m_base = nullptr;
    evconnlistener* m_listener = nullptr;
    std::unique_ptr<AcceptPause> m_acceptPause;
    LoopThread m_thread;
    std::unordered_set<DownloadConnection*> m_connections;
};
