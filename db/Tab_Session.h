#pragma once

#include <QString>

#include "db/RecordColumns.h"
#include "model/struSession.h"

// Tab_Session: the browser sessions, keyed by the hash of the cookie value, so that several
// instances of the service could share them. Holds no state.
class Tab_Session {
  public:
    static const RecordColumns<struSession>& columns();

    bool insertSession(const struSession& session);
    bool getSession(const QString& idHash, struSession& session);
    bool touchSession(const QString& idHash, qint64 lastSeenAt);
    bool deleteSession(const QString& idHash);
    // Every session of the account except the one given (empty: all of them).
    bool deleteAccountSessions(qint64 accountId, const QString& exceptIdHash = QString());
    bool deleteIdleSessions(qint64 lastSeenBefore);
};
