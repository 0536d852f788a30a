#pragma once

#include <event2/util.h>

#include <cstddef>

#include "download/DownloadBody.h"

struct bufferevent;
struct event;
struct evbuffer;
struct evbuffer_cb_entry;
struct evbuffer_cb_info;
class DownloadLoop;

// One client of the download port, on its loop's thread from accept to close: reads one
// request head within the head deadline, answers it, and closes. Costs a bufferevent, a timer
// and the head it is reading (bounded by the limits); nothing else waits for it.
class DownloadConnection {
  public:
    DownloadConnection(DownloadLoop& loop, evutil_socket_t fd);
    ~DownloadConnection();
    DownloadConnection(const DownloadConnection&) = delete;
    DownloadConnection& operator=(const DownloadConnection&) = delete;

    // False when it could not be set up; the loop then deletes it (which closes the socket).
    bool open();

  private:
    enum class State { ReadingHead, Sending, Lingering };

    static void readCallback(bufferevent* bev, void* arg);
    static void writeCallback(bufferevent* bev, void* arg);
    static void eventCallback(bufferevent* bev, short what, void* arg);
    static void deadlineCallback(evutil_socket_t, short, void* arg);
    // Bytes leaving the output buffer have been written to the client.
    static void outputCallback(evbuffer*, const evbuffer_cb_info* info, void* arg);

    void readHead();
    // The blank line that ends the head, searched from where the last read stopped; the
    // offset just past it, 0 while it has not arrived.
    size_t headEnd(const char* data, size_t size);
    // Reading ends, and the send time-out replaces the head deadline.
    void startReply();
    void answer(const char* data, size_t headSize);
    // The reply with this status is in the output buffer.
    void replied(int status);
    void setCork(bool on);
    void replySent();
    // Hands the connection back to its loop, which deletes it: the caller returns at once.
    void close();

    DownloadLoop& m_loop;
    evutil_socket_t m_fd;
    bufferevent* m_bev = nullptr;
    event* m_deadline = nullptr;
    State m_state = State::ReadingHead;
    size_t m_scanned = 0;
    evbuffer_cb_entry* m_sentCounter = nullptr;
    DownloadBody m_body;         // what is still to be added of the reply's file
    int m_status = 0;            // of the reply, once written
    bool m_downloading = false;  // a package reply, counted among the active ones
};
