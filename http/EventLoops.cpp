#include "http/EventLoops.h"

EventLoops::~EventLoops() {
    for (auto& loop : loops) loop->stop();
    loops.clear();
    listenSocket.reset();
}
