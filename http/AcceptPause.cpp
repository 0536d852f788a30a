#include "http/AcceptPause.h"

#include <event2/event.h>
#include <event2/listener.h>

#include <QDebug>
#include <map>
#include <mutex>

namespace {

// The listener's callbacks carry evhttp's argument, not ours: each pause is found by its
// listener. Looked up only when an accept fails.
std::mutex registryMutex;
std::map<evconnlistener*, AcceptPause*>& registry() {
    static std::map<evconnlistener*, AcceptPause*> pauses;
    return pauses;
}

}  // namespace

AcceptPause::AcceptPause(event_base* base, evconnlistener* listener, int pauseMs,
                         std::atomic<bool>& paused, const char* logPrefix)
    : m_listener(listener), m_pauseMs(pauseMs), m_paused(paused), m_logPrefix(logPrefix) {
    m_resume = evtimer_new(base, &AcceptPause::resume, this);
    if (!m_resume) return;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry()[listener] = this;
    }
    evconnlistener_set_error_cb(listener, &AcceptPause::acceptFailed);
}

AcceptPause::~AcceptPause() {
    if (!m_resume) return;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry().erase(m_listener);
    }
    event_free(m_resume);
}

void AcceptPause::acceptFailed(evconnlistener* listener, void*) {
    const int error = EVUTIL_SOCKET_ERROR();
    AcceptPause* self = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        const auto found = registry().find(listener);
        if (found != registry().end()) self = found->second;
    }
    if (self) self->pause(error);
}

void AcceptPause::pause(int error) {
    if (!m_paused.exchange(true))
        qDebug("%s %d %s", m_logPrefix, error, evutil_socket_error_to_string(error));
    evconnlistener_disable(m_listener);
    const timeval delay{m_pauseMs / 1000, (m_pauseMs % 1000) * 1000};
    evtimer_add(m_resume, &delay);
}

void AcceptPause::resume(evutil_socket_t, short, void* arg) {
    auto* self = static_cast<AcceptPause*>(arg);
    evconnlistener_enable(self->m_listener);
}
