#include "notify/WebhookSignature.h"

#include <sodium.h>

QByteArray webhookSignature(const QByteArray& secret, const QByteArray& body) {
    unsigned char mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(secret.constData()),
                                static_cast<size_t>(secret.size()));
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(body.constData()),
                                  static_cast<unsigned long long>(body.size()));
    crypto_auth_hmacsha256_final(&state, mac);
    return QByteArrayLiteral("sha256=") +
           QByteArray(reinterpret_cast<const char*>(mac), sizeof mac).toHex();
}
