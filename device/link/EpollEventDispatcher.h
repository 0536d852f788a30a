#pragma once

#include <atomic>

#include <QAbstractEventDispatcher>
#include <QHash>
#include <QList>

class QSocketNotifier;

// The event loop of an I/O thread hosting thousands of sockets: epoll hands back only the
// descriptors that are ready, where Qt's own loops hand every descriptor of the thread to
// poll() and walk the whole list again for each wake-up. Socket notifiers, timers and posted
// events, as Qt's loops do; one thread only, like every dispatcher.
class EpollEventDispatcher : public QAbstractEventDispatcher {
    Q_OBJECT
  public:
    explicit EpollEventDispatcher(QObject* parent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, int interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;
    void flush() override;

  private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
    };
    struct Timer {
        int id;
        int interval;
        Qt::TimerType type;
        QObject* object;
        qint64 deadlineMs;
    };

    void takeWakeUps();
    void updateEpoll(int fd, const Watch* watch);
    void activate(int fd, int type);
    int msecsToNextTimer() const;
    bool fireTimers();

    int m_epoll = -1;
    int m_wake = -1;  // eventfd: posted events and interrupts
    std::atomic<bool> m_interrupted{false};
    QHash<int, Watch> m_watches;
    QList<Timer> m_timers;  // sockets use none; kept simple
};
