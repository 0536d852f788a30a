#include "notify/WebhookDispatcher.h"

#include <algorithm>

#include <QDateTime>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUuid>

#include "core/Logger.h"
#include "core/MetricsRegistry.h"
#include "db/Tab_Webhook.h"
#include "notify/WebhookSignature.h"

namespace {
constexpr double kLongestPauseSeconds = 3600;

std::shared_ptr<spdlog::logger> logger() {
    return getLogger("Webhook");
}

bool wants(const struWebhook& webhook, const QString& event) {
    return webhook.events.split(QLatin1Char(','), Qt::SkipEmptyParts).contains(event);
}
}  // namespace

WebhookDispatcher::WebhookDispatcher(MetricsRegistry& metrics, const Settings& settings)
    : m_settings(settings),
      m_context(new QObject),
      m_attempts(metrics.counters("wayfarer_webhook_attempts_total",
                                  "Attempts to hand a notification to a webhook, by result.")),
      m_dropped(metrics.counters("wayfarer_webhook_dropped_total",
                                 "Notifications or deliveries given up, by reason.")),
      m_delivered(m_attempts.Add({{"result", "delivered"}})),
      m_failed(m_attempts.Add({{"result", "failed"}})),
      m_queueFull(m_dropped.Add({{"reason", "queue_full"}})),
      m_backlogFull(m_dropped.Add({{"reason", "backlog_full"}})),
      m_unreadable(m_dropped.Add({{"reason", "database"}})),
      m_exhausted(m_dropped.Add({{"reason", "attempts_exhausted"}})),
      m_pending(metrics
                    .gauges("wayfarer_webhook_pending",
                            "Webhook deliveries under way or waiting for their next attempt.")
                    .Add({})) {
    m_thread.setObjectName(QStringLiteral("webhooks"));
    // Woken by a queued call of its slot by name: Qt makes that call's event inside its own
    // library, so no functor crosses threads.
    m_wake = new QTimer(m_context);
    m_wake->setSingleShot(true);
    m_wake->setInterval(0);
    QObject::connect(m_wake, &QTimer::timeout, m_context, [this] { drain(); });
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
}

WebhookDispatcher::~WebhookDispatcher() {
    m_thread.quit();
    m_thread.wait();
}

void WebhookDispatcher::notify(NotifyEvent event, const QJsonObject& data) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (static_cast<int>(m_events.size()) >= m_settings.queueSize) {
            m_queueFull.Increment();
            return;
        }
        m_events.push_back({event, data, QDateTime::currentSecsSinceEpoch()});
        if (m_drainPosted) return;
        m_drainPosted = true;
    }
    QMetaObject::invokeMethod(m_wake, "start", Qt::QueuedConnection);
}

void WebhookDispatcher::drain() {
    if (!m_network) m_network = new QNetworkAccessManager(m_context);
    std::deque<Event> events;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        events.swap(m_events);
        m_drainPosted = false;
    }
    QList<struWebhook> webhooks;
    if (!Tab_Webhook::all(webhooks)) {
        logger()->warn("{}, webhooks not readable: {} events dropped", "WebhookDispatcher::drain",
                       events.size());
        m_unreadable.Increment(static_cast<double>(events.size()));
        return;
    }
    for (const Event& event : events) {
        const QString name = QLatin1String(notifyEventName(event.event));
        for (const struWebhook& webhook : webhooks) {
            if (!wants(webhook, name)) continue;
            if (m_underWay >= m_settings.queueSize) {
                m_backlogFull.Increment();
                continue;
            }
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            const QJsonObject payload{
                {"id", id},
                {"event", name},
                {"at", QDateTime::fromSecsSinceEpoch(event.at, Qt::UTC).toString(Qt::ISODate)},
                {"data", event.data}};
            ++m_underWay;
            m_pending.Increment();
            send({webhook.id, webhook.url, webhook.secret.toUtf8(), name, id,
                  QJsonDocument(payload).toJson(QJsonDocument::Compact), 1});
        }
    }
}

void WebhookDispatcher::send(const Delivery& delivery) {
    QNetworkRequest request{QUrl(delivery.url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Wayfarer-Webhook"));
    request.setRawHeader(kWebhookSignatureHeader, webhookSignature(delivery.secret, delivery.body));
    request.setRawHeader("X-Wayfarer-Event", delivery.event.toUtf8());
    request.setRawHeader("X-Wayfarer-Delivery", delivery.deliveryId.toUtf8());
    request.setTransferTimeout(static_cast<int>(m_settings.timeoutSeconds * 1000));
    QNetworkReply* reply = m_network->post(request, delivery.body);
    QObject::connect(reply, &QNetworkReply::finished, m_context, [this, reply, delivery] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QString error;
        if (status == 0)
            error = reply->errorString();
        else if (status < 200 || status > 299)
            error = QStringLiteral("HTTP %1").arg(status);
        answered(delivery, status, error);
    });
}

void WebhookDispatcher::answered(const Delivery& delivery, int status, const QString& error) {
    const bool delivered = error.isEmpty();
    const bool again = !delivered && delivery.attempt < m_settings.attempts;
    (delivered ? m_delivered : m_failed).Increment();
    if (!again) {
        if (!delivered) m_exhausted.Increment();
        settled();
    }
    struWebhookDelivery row;
    row.webhookId = delivery.webhookId;
    row.deliveryId = delivery.deliveryId;
    row.event = delivery.event;
    row.attempt = delivery.attempt;
    row.at = QDateTime::currentSecsSinceEpoch();
    row.status = status;
    row.outcome = QLatin1String(delivered ? "delivered" : again ? "retrying" : "failed");
    row.error = error;
    if (!Tab_Webhook::recordDelivery(row))
        logger()->warn("{}, delivery {} of webhook {} not recorded", "WebhookDispatcher::answered",
                       delivery.deliveryId.toStdString(), delivery.webhookId);
    if (!delivered)
        logger()->info("{}, webhook {} attempt {} of {}: {}", "WebhookDispatcher::answered",
                       delivery.webhookId, delivery.attempt, delivery.event.toStdString(),
                       error.toStdString());
    if (!again) return;
    const double pause =
        std::min(kLongestPauseSeconds,
                 m_settings.retrySeconds * double(1 << std::min(delivery.attempt - 1, 20)));
    Delivery next = delivery;
    ++next.attempt;
    QTimer::singleShot(static_cast<int>(pause * 1000), m_context, [this, next] {
        // Removed meanwhile: nobody waits for it any more.
        struWebhook webhook;
        if (Tab_Webhook::get(next.webhookId, webhook)) {
            send(next);
            return;
        }
        settled();
    });
}

void WebhookDispatcher::settled() {
    --m_underWay;
    m_pending.Decrement();
}
