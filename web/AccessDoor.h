#pragma once

#include <QString>

#include "api/auth/Caller.h"

// The door of the management server: whether a caller may go through to a route that needs a
// role. A session's changing request must carry the session's CSRF token; a session whose
// password must be changed goes nowhere but to the password change. Credentials that could not
// be checked because the database is away get 503 with Retry-After, never 401: a browser keeps
// its session through the outage.
struct DoorVerdict {
    int status = 0;  // 0: admitted; else 401, 403 or 503
    QString code;
    QString message;
    int retryAfterSeconds = 0;  // with 503
    bool admitted() const { return status == 0; }
};

class AccessDoor {
  public:
    static bool changes(const QByteArray& method) { return method != "GET"; }
    // The CSRF rule alone (the v2 router checks the roles itself).
    static DoorVerdict checkCsrf(const Caller& caller, const QByteArray& method,
                                 const QString& csrfHeader);
    // servedFromMemory: the route needs no database, so an unchecked caller still gets in with
    // the role this instance last saw its token hold.
    static DoorVerdict check(const Caller& caller, Role needed, const QByteArray& method,
                             const QString& csrfHeader, bool servedFromMemory = false);
};
