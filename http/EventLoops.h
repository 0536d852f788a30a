#pragma once

#include <memory>
#include <vector>

#include "http/EventLoop.h"
#include "http/UniqueFd.h"

// What a started server owns: the listening socket and the loops that accept on it. Every loop
// ends before the first is freed, so that none still serves while another is torn down; the
// socket is closed last.
struct EventLoops {
    EventLoops() = default;
    ~EventLoops();
    EventLoops(const EventLoops&) = delete;
    EventLoops& operator=(const EventLoops&) = delete;

    UniqueFd listenSocket;
    std::vector<std::unique_ptr<EventLoop>> loops;
};
