#include "http/EventLoop.h"

#include <event2/event.h>
#include <event2/http.h>

#include <QDebug>

void EventLoop::stop() {
    if (thread.stop()) invoker->loopEnded();  // built before the thread
}

EventLoop::~EventLoop() {
    stop();
    const bool complete = workers != nullptr;
    workers.reset();  // queued requests are still taken, then joined
    invoker.reset();
    acceptPause.reset();
    if (http) evhttp_free(http);
    clients.reset();
    if (!base) return;
    if (complete) qDebug("[dispose]11 %p", static_cast<void*>(base));
    event_base_free(base);
    if (complete) qDebug("[dispose]22 %p", static_cast<void*>(base));
}
