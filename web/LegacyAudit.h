#pragma once

#include <QByteArray>
#include <QString>

#include "api/auth/Caller.h"

// The audit records of the changes made through the routes that predate v2.
class LegacyAudit {
  public:
    LegacyAudit(const Caller& caller, const QString& address, const QString& route);

    // Recorded at the last block only: only then is the package there.
    void packageBlockStored(const QString& url);
    // Read before the deletion, while the package is still there to be named.
    static QString describeDeletion(const QByteArray& body);
    void packageDeleted(const QString& description);
    void devicesImported(const QString& url, int rows);
    void forcedUpgradesCleared();

  private:
    void record(const char* action, const QString& summary);

    Caller m_caller;
    QString m_address;
    QString m_route;
};
