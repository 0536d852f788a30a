#pragma once

#include <deque>
#include <mutex>

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QThread>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>

#include "notify/Notifier.h"

class MetricsRegistry;
class QNetworkAccessManager;
class QTimer;
class QObject;

// Tells the admins' webhooks (Tab_Webhook) what happened: each event a signed JSON POST to every
// webhook that asked for it, retried with doubling pauses, every attempt recorded for the admins
// and counted. All sending happens on a thread of its own; notify() only appends to a bounded
// queue, and what does not fit is dropped and counted rather than waited for.
class WebhookDispatcher : public Notifier {
  public:
    struct Settings {
        int queueSize = 1000;        // events waiting, and deliveries under way, each at most
        int attempts = 5;            // per delivery, the first included
        double retrySeconds = 5;     // before the second attempt; doubled for each further one
        double timeoutSeconds = 10;  // for one attempt, from the connection to the answer
    };

    WebhookDispatcher(MetricsRegistry& metrics, const Settings& settings);
    // Stops the thread; deliveries still under way or waiting are given up.
    ~WebhookDispatcher() override;
    WebhookDispatcher(const WebhookDispatcher&) = delete;
    WebhookDispatcher& operator=(const WebhookDispatcher&) = delete;

    void notify(NotifyEvent event, const QJsonObject& data) override;

  private:
    struct Event {
        NotifyEvent event;
        QJsonObject data;
        qint64 at;
    };
    struct Delivery {
        qint64 webhookId;
        QString url;
        QByteArray secret;
        QString event;
        QString deliveryId;
        QByteArray body;
        int attempt;
    };

    // On the sending thread.
    void drain();
    void send(const Delivery& delivery);
    void answered(const Delivery& delivery, int status, const QString& error);
    void settled();

    const Settings m_settings;
    QThread m_thread;
    QObject* m_context;                          // lives on m_thread; parent of what sends
    QNetworkAccessManager* m_network = nullptr;  // made and used on m_thread
    QTimer* m_wake = nullptr;                    // on m_thread: its timeout drains the events
    int m_underWay = 0;                          // deliveries sent or waiting to retry; m_thread

    std::mutex m_mutex;  // guards m_events and m_drainPosted
    std::deque<Event> m_events;
    bool m_drainPosted = false;  // one drain() posted at a time, so the thread's queue is bounded

    prometheus::Family<prometheus::Counter>& m_attempts;
    prometheus::Family<prometheus::Counter>& m_dropped;
    prometheus::Counter& m_delivered;
    prometheus::Counter& m_failed;
    prometheus::Counter& m_queueFull;
    prometheus::Counter& m_backlogFull;
    prometheus::Counter& m_unreadable;
    prometheus::Counter& m_exhausted;
    prometheus::Gauge& m_pending;
};
