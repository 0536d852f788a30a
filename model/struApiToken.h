#pragma once

#include <QString>

// One API token for scripts: the row of Tab_ApiToken. Only a hash of the secret is kept.
struct struApiToken {
    qint64 id = 0;
    QString name;
    QString role;  // "viewer", "operator" or "admin"
    QString tokenHash;
    QString createdBy;
    qint64 accountId = 0;   // the account it acts for; 0 for none (made with logins off)
    qint64 createdAt = 0;   // seconds since the epoch
    qint64 expiresAt = 0;   // seconds since the epoch
    qint64 lastUsedAt = 0;  // seconds since the epoch, 0 for never
};
