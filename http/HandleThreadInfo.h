#pragma once

#include <memory>
#include <thread>

#include "http/LoopInvoker.h"
#include "http/ThreadPool.h"

struct event_base;
struct evhttp;
struct evconnlistener;

// One event loop of an HttpServer: its thread, its worker pool and its libevent objects.
struct HandleThreadInfo {
    std::unique_ptr<std::thread> thread;
    std::unique_ptr<ThreadPool> m_handleThreadPool;
    event_base* base = nullptr;
    evhttp* http = nullptr;
    evconnlistener* listener = nullptr;  // owned by http
    int poolSize = 5;
    // Replies from the workers are carried out on the loop's own thread.
    std::unique_ptr<LoopInvoker> invoker;
};
