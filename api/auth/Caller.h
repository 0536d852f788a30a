#pragma once

#include <QString>

#include "api/auth/Role.h"

// Who sends a request, as the door found out from its cookie or bearer token.
struct Caller {
    enum class Kind {
        None,     // no credentials, or ones that are not (or no longer) valid
        Session,  // a browser session
        Token,    // an API token
        Open,     // logins are switched off: everyone is an admin without an account
        // credentials came but could not be checked: the database is away. role is what a
        // token this instance checked before the outage held, else Public.
        Unchecked,
    };
    Kind kind = Kind::None;
    Role role = Role::Public;
    qint64 accountId = 0;   // of a session, or the account a token acts for
    QString name;           // the account or the token name
    QString sessionIdHash;  // of a session
    QString csrfToken;      // of a session
    bool mustChangePassword = false;

    bool known() const { return kind != Kind::None && kind != Kind::Unchecked; }
    // What the audit trail records as the one who acted.
    QString auditName() const {
        return kind == Kind::Token ? QStringLiteral("token:") + name : name;
    }
};
