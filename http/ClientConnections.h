#pragma once

#include <event2/util.h>

#include <QtGlobal>
#include <memory>
#include <string>
#include <unordered_map>

#include "http/RequestHeadScanner.h"

struct bufferevent;
struct event;
struct event_base;
struct evbuffer;
struct evbuffer_cb_entry;
struct evbuffer_cb_info;
struct evhttp_connection;
struct evhttp_request;
struct ServerLimits;
struct ssl_ctx_st;

// The connections one event loop has accepted, each followed from accept to close, so that
// what clients hold stays bounded: connections beyond the server's cap or beyond their source
// address's share of it are refused at once, a request head (with the TLS handshake before it)
// must arrive within the stall time and a body may not fall silent for longer, and request
// bodies in memory are taken from the server's budget (a request that would go beyond it gets
// 503 at once). Plain and TLS connections alike: the table makes the loop's bufferevents. Used
// on the loop's thread only (evhttp calls back there), and by the loop's owner once the loop has
// ended.
class ClientConnections {
  public:
    using CloseListener = void (*)(evhttp_connection*, void*);

    // With tls set every connection is read through it.
    ClientConnections(ServerLimits& limits, ssl_ctx_st* tls);
    ~ClientConnections();
    ClientConnections(const ClientConnections&) = delete;
    ClientConnections& operator=(const ClientConnections&) = delete;

    // evhttp's bufferevent callback (evhttp_set_bevcb), `self` the ClientConnections: the
    // connection just accepted. Null lets evhttp make its own plain one, untracked.
    static bufferevent* newConnection(event_base* base, void* self);

    // The request has been read whole: its deadline ends. False when it was refused; its 503
    // has been sent and the request is evhttp's again.
    bool requestRead(evhttp_request* req);
    // A request kept open unanswered no longer needs its body.
    void dropBody(evhttp_request* req);
    // The one listener told when the connection closes, before evhttp frees it; null clears it.
    void setCloseListener(evhttp_connection* evcon, CloseListener listener, void* arg);

    static constexpr int kRetryAfterSeconds = 5;

  private:
    struct Client;

    bool attach(Client* client);
    void forget(Client* client);
    void refuse(Client* client);
    static void close(Client* client);
    void bodyArrived(Client* client, qint64 bytes);
    static void timerFired(evutil_socket_t, short, void* arg);
    static void received(evbuffer* buffer, const evbuffer_cb_info* info, void* arg);
    static void written(evbuffer* buffer, const evbuffer_cb_info* info, void* arg);
    static void closed(evhttp_connection* evcon, void* arg);

    ServerLimits& m_limits;
    ssl_ctx_st* const m_tls;
    std::unordered_map<bufferevent*, std::unique_ptr<Client>> m_clients;
    std::unordered_map<evhttp_connection*, Client*> m_byConnection;  // attached ones
};
