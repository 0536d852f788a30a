#pragma once

#include <memory>

#include "http/AcceptPause.h"
#include "http/ClientConnections.h"
#include "http/LoopInvoker.h"
#include "http/LoopThread.h"
#include "http/ThreadPool.h"

struct event_base;
struct evhttp;
struct evconnlistener;
class HttpServer;

// One event loop of an HttpServer and all that it owns. HttpServer::startServer builds it step
// by step; whatever was built is released by the destructor, in this order: the loop is ended
// and its thread joined, work still queued for the loop runs, the workers finish what they took
// and are joined, then the invoker, the accept pause, evhttp (with the listener, its descriptor
// and every connection), the connection table and the event base are freed.
struct EventLoop {
    explicit EventLoop(HttpServer* owner) : server(owner) {}
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Ends the loop and joins its thread; afterwards the invoker runs work on its caller's
    // thread. Does nothing the second time, or when the thread was never started.
    void stop();

    HttpServer* const server;  // whose handlers the loop's requests go to
    event_base* base = nullptr;
    evhttp* http = nullptr;
    evconnlistener* listener = nullptr;  // owned by http
    std::unique_ptr<AcceptPause> acceptPause;
    // Every connection of http, from accept to close.
    std::unique_ptr<ClientConnections> clients;
    // Replies from the workers are carried out on the loop's own thread.
    std::unique_ptr<LoopInvoker> invoker;
    LoopThread thread;
    // The last step of building a loop: a loop that has its workers is complete.
    std::unique_ptr<ThreadPool> workers;
};
