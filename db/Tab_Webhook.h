#pragma once

#include <QList>

#include "db/RecordColumns.h"
#include "model/struWebhook.h"

// Tab_Webhook and Tab_WebhookDelivery: the admins' notification receivers and the latest
// attempts to reach each. Holds no state; every operation borrows a pooled connection.
class Tab_Webhook {
  public:
    // Attempts kept per webhook: older ones make way.
    static constexpr int kDeliveriesKept = 100;

    static const RecordColumns<struWebhook>& columns();
    static const RecordColumns<struWebhookDelivery>& deliveryColumns();

    // Fills webhook.id on success.
    static bool insert(struWebhook& webhook);
    static bool all(QList<struWebhook>& webhooks);
    // False also when there is no such webhook.
    static bool get(qint64 id, struWebhook& webhook);
    static bool remove(qint64 id);

    static bool recordDelivery(const struWebhookDelivery& delivery);
    // Newest first.
    static bool deliveries(qint64 webhookId, QList<struWebhookDelivery>& out);
};
