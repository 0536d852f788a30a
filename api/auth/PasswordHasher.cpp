#include "api/auth/PasswordHasher.h"

#include <sodium.h>

#include <QByteArray>

namespace {
bool hashUtf8(const QByteArray& password, QString& encoded) {
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(
            out, password.constData(), static_cast<unsigned long long>(password.size()),
            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return false;
    encoded = QString::fromLatin1(out);
    return true;
}
}  // namespace

bool PasswordHasher::hash(const QString& password, QString& encoded) {
    return hashUtf8(password.toUtf8(), encoded);
}

bool PasswordHasher::verify(const QString& encoded, const QString& password) {
    const QByteArray stored = encoded.toLatin1();
    const QByteArray text = password.toUtf8();
    return crypto_pwhash_str_verify(stored.constData(), text.constData(),
                                    static_cast<unsigned long long>(text.size())) == 0;
}

void PasswordHasher::verifyNothing(const QString& password) {
    static const QString dummy = [] {
        QString encoded;
        hashUtf8(QByteArrayLiteral("no account has this password"), encoded);
        return encoded;
    }();
    verify(dummy, password);
}

bool PasswordHasher::acceptable(const QString& password) {
    return password.size() >= 8 && password.size() <= 128;
}
