#pragma once

#include <QString>

// Random secrets, their stored hashes and constant-time comparison, on libsodium.
class Secrets {
  public:
    // False when libsodium cannot start; every other call needs it to have succeeded.
    static bool init();
    // `bytes` random bytes as base64url without padding.
    static QString randomText(int bytes);
    // A password of `length` letters and digits without look-alikes (0/O, 1/l/I).
    static QString randomPassword(int length);
    // The hex BLAKE2b-256 of a secret: what the database keeps of cookies and tokens.
    static QString hashOf(const QString& secret);
    static bool sameText(const QString& a, const QString& b);
};
