#pragma once

#include <QString>

// A receiver an admin registered for notifications: the row of Tab_Webhook. The secret signs
// every body sent to it, so it is kept as it is (it is shown once, at creation).
struct struWebhook {
    qint64 id = 0;
    QString url;
    QString events;  // event names, comma-separated
    QString secret;
    QString createdBy;
    qint64 createdAt = 0;  // seconds since the epoch
};

// One attempt to hand a notification to a webhook: the row of Tab_WebhookDelivery. The
// attempts of one notification share its deliveryId, which the receiver also sees.
struct struWebhookDelivery {
    qint64 id = 0;
    qint64 webhookId = 0;
    QString deliveryId;
    QString event;
    qint32 attempt = 1;
    qint64 at = 0;      // seconds since the epoch
    qint32 status = 0;  // the receiver's HTTP status; 0 when none came
    QString outcome;    // "delivered", "retrying" or "failed"
    QString error;      // why not delivered; empty when delivered
};
