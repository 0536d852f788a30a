#pragma once

#include <QString>

// One operator account: the row of Tab_Account. Only the Argon2id hash of the password is kept.
struct struAccount {
    qint64 id = 0;
    QString name;
    QString role;  // "viewer", "operator" or "admin"
    QString passwordHash;
    bool mustChangePassword = false;
    qint64 createdAt = 0;  // seconds since the epoch
};
