#include "api/v2/WebhookRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include "api/auth/Secrets.h"
#include "api/v2/RouteReplies.h"
#include "db/Tab_Webhook.h"
#include "notify/Notifier.h"

namespace {
constexpr int kLongestUrl = 2048;

QString isoTime(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

QJsonObject describe(const struWebhook& webhook) {
    return QJsonObject{{"id", webhook.id},
                       {"url", webhook.url},
                       {"events", QJsonArray::fromStringList(
                                      webhook.events.split(QLatin1Char(','), Qt::SkipEmptyParts))},
                       {"createdBy", webhook.createdBy},
                       {"createdAt", isoTime(webhook.createdAt)}};
}

bool webhookOf(const ApiRequest& request, struWebhook& webhook) {
    bool ok = false;
    const qint64 id = request.params.value("id").toLongLong(&ok);
    return ok && Tab_Webhook::get(id, webhook);
}

ApiReply list(const ApiRequest&) {
    QList<struWebhook> webhooks;
    if (!Tab_Webhook::all(webhooks)) return RouteReplies::databaseFailed();
    QJsonArray items;
    for (const struWebhook& webhook : webhooks) items.append(describe(webhook));
    return RouteReplies::ok(QJsonObject{{"webhooks", items}});
}

ApiReply create(const ApiRequest& request) {
    QJsonObject body;
    ApiReply failure;
    if (!RouteReplies::bodyObject(request, body, failure)) return failure;
    const QString text = body.value("url").toString();
    const QUrl url(text, QUrl::StrictMode);
    if (text.size() > kLongestUrl || !url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return RouteReplies::badRequest(QStringLiteral("须给出 http 或 https 地址"));
    QStringList events;
    for (const QJsonValue& value : body.value("events").toArray()) {
        NotifyEvent event;
        if (!notifyEventFromName(value.toString(), event))
            return RouteReplies::badRequest(QStringLiteral("未知事件：%1").arg(value.toString()));
        if (!events.contains(value.toString())) events << value.toString();
    }
    if (events.isEmpty()) return RouteReplies::badRequest(QStringLiteral("须选择至少一个事件"));
    struWebhook webhook;
    webhook.url = text;
    webhook.events = events.join(QLatin1Char(','));
    webhook.secret = QStringLiteral("whs_") + Secrets::randomText(32);
    webhook.createdBy = request.account;
    webhook.createdAt = QDateTime::currentSecsSinceEpoch();
    if (!Tab_Webhook::insert(webhook)) return RouteReplies::databaseFailed();
    request.audit(QStringLiteral("webhook_create"),
                  QStringLiteral("%1（%2）").arg(webhook.url, webhook.events));
    QJsonObject created = describe(webhook);
    created.insert("secret", webhook.secret);
    return ApiReply::json(201, QJsonDocument(created).toJson(QJsonDocument::Compact));
}

ApiReply removeWebhook(const ApiRequest& request) {
    struWebhook webhook;
    if (!webhookOf(request, webhook) || !Tab_Webhook::remove(webhook.id))
        return RouteReplies::notFound(QStringLiteral("webhook 不存在"));
    request.audit(QStringLiteral("webhook_delete"), webhook.url);
    return ApiReply::noContent();
}

ApiReply deliveries(const ApiRequest& request) {
    struWebhook webhook;
    if (!webhookOf(request, webhook))
        return RouteReplies::notFound(QStringLiteral("webhook 不存在"));
    QList<struWebhookDelivery> rows;
    if (!Tab_Webhook::deliveries(webhook.id, rows)) return RouteReplies::databaseFailed();
    QJsonArray items;
    for (const struWebhookDelivery& row : rows)
        items.append(QJsonObject{{"deliveryId", row.deliveryId},
                                 {"event", row.event},
                                 {"attempt", row.attempt},
                                 {"at", isoTime(row.at)},
                                 {"status", row.status},
                                 {"outcome", row.outcome},
                                 {"error", row.error}});
    return RouteReplies::ok(QJsonObject{{"deliveries", items}});
}
}  // namespace

ApiGroup webhookRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("webhooks");
    group.schemas = R"J({"Webhook":{"type":"object",
        "required":["id","url","events","createdBy","createdAt"],
        "properties":{"id":{"type":"integer"},"url":{"type":"string"},
            "events":{"type":"array","items":{"$ref":"#/components/schemas/WebhookEvent"}},
            "createdBy":{"type":"string"},"createdAt":{"type":"string"},
            "secret":{"type":"string","description":"signs each body (header X-Wayfarer-Signature: sha256=<hex HMAC-SHA256 of the body>); in the creation answer only"}}},
        "WebhookEvent":{"type":"string","enum":["rollout_paused","stage_opened","plan_finished",
            "failure_threshold_near","terminals_stalled","identity_conflict"]},
        "WebhookDelivery":{"type":"object",
        "required":["deliveryId","event","attempt","at","status","outcome","error"],
        "properties":{"deliveryId":{"type":"string","description":"the same for every attempt of one notification"},
            "event":{"$ref":"#/components/schemas/WebhookEvent"},"attempt":{"type":"integer"},
            "at":{"type":"string"},
            "status":{"type":"integer","description":"the receiver's HTTP status; 0 when none came"},
            "outcome":{"type":"string","enum":["delivered","retrying","failed"]},
            "error":{"type":"string"}}}})J";
    const QByteArray error =
        R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}})J";
    const QByteArray idParameter = R"J("parameters":[{"name":"id","in":"path","required":true,
        "schema":{"type":"integer","example":1}}],)J";
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/webhooks"), Role::Admin, QStringLiteral("listWebhooks"),
         QStringLiteral("List the webhooks (without their secrets)"), list,
         R"J({"responses":{"200":{"description":"Webhooks","content":{"application/json":{"schema":
             {"type":"object","required":["webhooks"],"properties":{"webhooks":{"type":"array",
              "items":{"$ref":"#/components/schemas/Webhook"}}}}}}},
             "500":{"description":"Database failure","content":)J" +
             error + "}}}"},
        {"POST", QStringLiteral("/KORVA/v2/webhooks"), Role::Admin, QStringLiteral("createWebhook"),
         QStringLiteral("Register a webhook for the chosen events; its secret is shown once"),
         create,
         R"J({"requestBody":{"required":true,"content":{"application/json":{
               "schema":{"type":"object","required":["url","events"],
                   "properties":{"url":{"type":"string"},"events":{"type":"array","minItems":1,
                       "items":{"$ref":"#/components/schemas/WebhookEvent"}}}},
               "example":{"url":"https://ops.example/hooks/wayfarer",
                          "events":["rollout_paused","plan_finished"]}}}},
             "responses":{"201":{"description":"Registered; the secret is shown only here",
                 "content":{"application/json":{"schema":{"$ref":"#/components/schemas/Webhook"}}}},
                 "400":{"description":"Bad request","content":)J" +
             error + R"J(},"500":{"description":"Database failure","content":)J" + error + "}}}"},
        {"GET", QStringLiteral("/KORVA/v2/webhooks/{id}/deliveries"), Role::Admin,
         QStringLiteral("listWebhookDeliveries"),
         QStringLiteral("The latest attempts to reach a webhook, newest first"), deliveries,
         "{" + idParameter + R"J("responses":{"200":{"description":"Attempts","content":
             {"application/json":{"schema":{"type":"object","required":["deliveries"],
              "properties":{"deliveries":{"type":"array",
              "items":{"$ref":"#/components/schemas/WebhookDelivery"}}}}}}},
             "404":{"description":"No such webhook","content":)J" +
             error + R"J(},"500":{"description":"Database failure","content":)J" + error + "}}}"},
        {"DELETE", QStringLiteral("/KORVA/v2/webhooks/{id}"), Role::Admin,
         QStringLiteral("deleteWebhook"), QStringLiteral("Remove a webhook and its attempts"),
         removeWebhook,
         "{" + idParameter + R"J("responses":{"204":{"description":"Removed"},
                 "404":{"description":"No such webhook","content":)J" +
             error + "}}}"},
    };
    return group;
}
