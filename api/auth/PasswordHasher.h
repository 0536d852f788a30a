#pragma once

#include <QString>

// Argon2id password hashes (libsodium's string form, interactive limits).
class PasswordHasher {
  public:
    // False when the hash cannot be made (out of memory).
    static bool hash(const QString& password, QString& encoded);
    static bool verify(const QString& encoded, const QString& password);
    // The same work as a verification that fails, for an account name that does not exist, so
    // that the answer's timing does not tell which names exist.
    static void verifyNothing(const QString& password);
    // 8 to 128 characters.
    static bool acceptable(const QString& password);
};
