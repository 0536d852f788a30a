#include "db/Tab_Webhook.h"

#include "db/SqlStatement.h"

namespace {
template <typename T>
bool readAll(SqlStatement& query, const RecordColumns<T>& columns, QList<T>& out) {
    if (!query.exec()) return false;
    out.clear();
    while (query.next()) {
        T row;
        query.readRow(columns, row);
        out.append(row);
    }
    return true;
}
}  // namespace

const RecordColumns<struWebhook>& Tab_Webhook::columns() {
    using W = struWebhook;
    static const RecordColumns<W> columns("Tab_Webhook", {{"id", &W::id, kKey | kAssigned},
                                                          {"url", &W::url},
                                                          {"events", &W::events},
                                                          {"secret", &W::secret},
                                                          {"createdBy", &W::createdBy},
                                                          {"createdAt", &W::createdAt}});
    return columns;
}

const RecordColumns<struWebhookDelivery>& Tab_Webhook::deliveryColumns() {
    using D = struWebhookDelivery;
    static const RecordColumns<D> columns("Tab_WebhookDelivery", {{"id", &D::id, kKey | kAssigned},
                                                                  {"webhookId", &D::webhookId},
                                                                  {"deliveryId", &D::deliveryId},
                                                                  {"event", &D::event},
                                                                  {"attempt", &D::attempt},
                                                                  {"at", &D::at},
                                                                  {"status", &D::status},
                                                                  {"outcome", &D::outcome},
                                                                  {"error", &D::error}});
    return columns;
}

bool Tab_Webhook::insert(struWebhook& webhook) {
    SqlStatement insert(columns().insert());
    insert.bindRow(columns(), webhook);
    if (!insert.exec()) return false;
    webhook.id = insert.lastInsertId();
    return true;
}

bool Tab_Webhook::all(QList<struWebhook>& webhooks) {
    SqlStatement query(columns().select(QStringLiteral("order by id")));
    return readAll(query, columns(), webhooks);
}

bool Tab_Webhook::get(qint64 id, struWebhook& webhook) {
    SqlStatement query(columns().select(QStringLiteral("where id=:id")));
    query.bind(QStringLiteral(":id"), id);
    if (!query.exec() || !query.next()) return false;
    query.readRow(columns(), webhook);
    return true;
}

bool Tab_Webhook::remove(qint64 id) {
    SqlStatement deliveries(QStringLiteral("delete from Tab_WebhookDelivery where webhookId=:id"));
    deliveries.bind(QStringLiteral(":id"), id);
    SqlStatement webhook(QStringLiteral("delete from Tab_Webhook where id=:id"));
    webhook.bind(QStringLiteral(":id"), id);
    return deliveries.exec() && webhook.exec() && webhook.rowsAffected() > 0;
}

bool Tab_Webhook::recordDelivery(const struWebhookDelivery& delivery) {
    SqlStatement insert(deliveryColumns().insert());
    insert.bindRow(deliveryColumns(), delivery);
    if (!insert.exec()) return false;
    SqlStatement prune(QStringLiteral(
        "delete from Tab_WebhookDelivery where webhookId=:id and id not in (select id from "
        "Tab_WebhookDelivery where webhookId=:id2 order by id desc limit :kept)"));
    prune.bind(QStringLiteral(":id"), delivery.webhookId)
        .bind(QStringLiteral(":id2"), delivery.webhookId)
        .bind(QStringLiteral(":kept"), kDeliveriesKept);
    return prune.exec();
}

bool Tab_Webhook::deliveries(qint64 webhookId, QList<struWebhookDelivery>& out) {
    SqlStatement query(
        deliveryColumns().select(QStringLiteral("where webhookId=:id order by id desc")));
    query.bind(QStringLiteral(":id"), webhookId);
    return readAll(query, deliveryColumns(), out);
}
