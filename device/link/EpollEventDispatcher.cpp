#include "device/link/EpollEventDispatcher.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

// Exported by QtCore for its own dispatchers, not declared in its public headers.
Q_CORE_EXPORT uint qGlobalPostedEventsCount();

namespace {
qint64 nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int kMaxEvents = 256;
}  // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent),
      m_epoll(::epoll_create1(EPOLL_CLOEXEC)),
      m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_wake;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
}

EpollEventDispatcher::~EpollEventDispatcher() {
    ::close(m_wake);
    ::close(m_epoll);
}

void EpollEventDispatcher::updateEpoll(int fd, const Watch* watch) {
    epoll_event event{};
    event.data.fd = fd;
    if (watch) {
        if (watch->read) event.events |= EPOLLIN;
        if (watch->write) event.events |= EPOLLOUT;
        if (watch->exception) event.events |= EPOLLPRI;
    }
    if (event.events == 0) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, &event);
        return;
    }
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) != 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = static_cast<int>(notifier->socket());
    Watch& watch = m_watches[fd];
    switch (notifier->type()) {
        case QSocketNotifier::Read:
            watch.read = notifier;
            break;
        case QSocketNotifier::Write:
            watch.write = notifier;
            break;
        case QSocketNotifier::Exception:
            watch.exception = notifier;
            break;
    }
    updateEpoll(fd, &watch);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = static_cast<int>(notifier->socket());
    auto it = m_watches.find(fd);
    if (it == m_watches.end()) return;
    for (QSocketNotifier** slot : {&it->read, &it->write, &it->exception})
        if (*slot == notifier) *slot = nullptr;
    if (!it->read && !it->write && !it->exception) {
        m_watches.erase(it);
        updateEpoll(fd, nullptr);
    } else {
        updateEpoll(fd, &*it);
    }
}

void EpollEventDispatcher::activate(int fd, int type) {
    // Looked up afresh for each kind: the handler of the one before may have closed the socket.
    auto it = m_watches.find(fd);
    if (it == m_watches.end()) return;
    QSocketNotifier* notifier = type == QSocketNotifier::Read    ? it->read
                                : type == QSocketNotifier::Write ? it->write
                                                                 : it->exception;
    if (!notifier) return;
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &event);
}

void EpollEventDispatcher::takeWakeUps() {
    quint64 count = 0;
    ssize_t ignored = ::read(m_wake, &count, sizeof count);
    (void)ignored;
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    m_interrupted = false;
    emit awake();
    // Read before the calls posted with them are run: the read orders this thread after the
    // posting ones (for thread sanitizer builds too, which see no order through Qt's lock).
    takeWakeUps();
    QCoreApplication::sendPostedEvents();

    const bool wait = (flags & QEventLoop::WaitForMoreEvents) && !m_interrupted;
    const int timeout = wait ? msecsToNextTimer() : 0;
    if (timeout != 0) emit aboutToBlock();
    epoll_event events[kMaxEvents];
    const int ready = ::epoll_wait(m_epoll, events, kMaxEvents, timeout);
    if (timeout != 0) emit awake();

    bool handled = false;
    for (int i = 0; i < ready; ++i) {
        const int fd = events[i].data.fd;
        const uint32_t what = events[i].events;
        if (fd == m_wake) {
            takeWakeUps();
            continue;
        }
        if (flags & QEventLoop::ExcludeSocketNotifiers) continue;
        if (!m_watches.contains(fd)) {
            // Left behind by a descriptor closed while watched: drop it while it is still ours.
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
            continue;
        }
        // As with poll(): a hang-up or an error wakes the reader and the writer, which find out.
        if (what & (EPOLLIN | EPOLLHUP | EPOLLERR)) activate(fd, QSocketNotifier::Read);
        if (what & (EPOLLOUT | EPOLLHUP | EPOLLERR)) activate(fd, QSocketNotifier::Write);
        if (what & EPOLLPRI) activate(fd, QSocketNotifier::Exception);
        handled = true;
    }
    if (!(flags & QEventLoop::X11ExcludeTimers)) handled = fireTimers() || handled;
    // Calls posted meanwhile have woken the next round, which reads before running them.
    return handled;
}

bool EpollEventDispatcher::hasPendingEvents() {
    return qGlobalPostedEventsCount() > 0;
}

void EpollEventDispatcher::registerTimer(int timerId, int interval, Qt::TimerType timerType,
                                         QObject* object) {
    m_timers.append({timerId, interval, timerType, object, nowMs() + interval});
}

bool EpollEventDispatcher::unregisterTimer(int timerId) {
    const auto it = std::find_if(m_timers.begin(), m_timers.end(),
                                 [timerId](const Timer& t) { return t.id == timerId; });
    if (it == m_timers.end()) return false;
    m_timers.erase(it);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
    const int before = m_timers.size();
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [object](const Timer& t) { return t.object == object; }),
                   m_timers.end());
    return m_timers.size() != before;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(
    QObject* object) const {
    QList<TimerInfo> out;
    for (const Timer& t : m_timers)
        if (t.object == object) out.append(TimerInfo(t.id, t.interval, t.type));
    return out;
}

int EpollEventDispatcher::remainingTime(int timerId) {
    for (const Timer& t : qAsConst(m_timers))
        if (t.id == timerId) return static_cast<int>(std::max<qint64>(0, t.deadlineMs - nowMs()));
    return -1;
}

int EpollEventDispatcher::msecsToNextTimer() const {
    if (m_timers.isEmpty()) return -1;
    qint64 next = m_timers.first().deadlineMs;
    for (const Timer& t : m_timers) next = std::min(next, t.deadlineMs);
    return static_cast<int>(std::max<qint64>(0, next - nowMs()));
}

bool EpollEventDispatcher::fireTimers() {
    const qint64 now = nowMs();
    QList<int> due;
    for (Timer& t : m_timers) {
        if (t.deadlineMs > now) continue;
        due.append(t.id);
        t.deadlineMs = now + t.interval;
    }
    for (int id : due) {
        // A timer stopped by the one before it does not fire.
        const auto it = std::find_if(m_timers.cbegin(), m_timers.cend(),
                                     [id](const Timer& t) { return t.id == id; });
        if (it == m_timers.cend()) continue;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(it->object, &event);
    }
    return !due.isEmpty();
}

void EpollEventDispatcher::wakeUp() {
    const quint64 one = 1;
    ssize_t ignored = ::write(m_wake, &one, sizeof one);
    (void)ignored;
}

void EpollEventDispatcher::interrupt() {
    m_interrupted = true;
    wakeUp();
}

void EpollEventDispatcher::flush() {}
