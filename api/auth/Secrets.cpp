#include "api/auth/Secrets.h"

#include <sodium.h>

#include <QByteArray>

bool Secrets::init() {
    return sodium_init() >= 0;
}

QString Secrets::randomText(int bytes) {
    QByteArray raw(bytes, '\0');
    randombytes_buf(raw.data(), static_cast<size_t>(raw.size()));
    return QString::fromLatin1(
        raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString Secrets::randomPassword(int length) {
    static const char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    const uint32_t size = sizeof(kAlphabet) - 1;
    QString password;
    for (int i = 0; i < length; ++i) password += QLatin1Char(kAlphabet[randombytes_uniform(size)]);
    return password;
}

QString Secrets::hashOf(const QString& secret) {
    const QByteArray text = secret.toUtf8();
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof(digest), reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<unsigned long long>(text.size()), nullptr, 0);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), sizeof(digest)).toHex());
}

bool Secrets::sameText(const QString& a, const QString& b) {
    // Compare digests of equal length, so that neither the length nor the content leaks.
    const QByteArray x = hashOf(a).toLatin1();
    const QByteArray y = hashOf(b).toLatin1();
    return sodium_memcmp(x.constData(), y.constData(), static_cast<size_t>(x.size())) == 0;
}
