#pragma once

#include <QByteArray>

// The header that carries a webhook body's signature, and its value: "sha256=" and the hex
// HMAC-SHA256 of the body under the webhook's secret. A receiver computes the same over the
// bytes it received and compares.
constexpr const char* kWebhookSignatureHeader = "X-Wayfarer-Signature";
QByteArray webhookSignature(const QByteArray& secret, const QByteArray& body);
