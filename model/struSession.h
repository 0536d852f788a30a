#pragma once

#include <QString>

// One browser session: the row of Tab_Session. The cookie value itself is never stored.
struct struSession {
    QString idHash;  // hex hash of the cookie value
    qint64 accountId = 0;
    QString csrfToken;
    qint64 createdAt = 0;   // milliseconds since the epoch
    qint64 lastSeenAt = 0;  // milliseconds since the epoch
};
