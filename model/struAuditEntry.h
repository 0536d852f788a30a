#pragma once

#include <QString>

// One recorded change: the row of Tab_AuditLog.
struct struAuditEntry {
    qint64 id = 0;
    qint64 at = 0;    // milliseconds since the epoch
    QString account;  // account name, "token:<name>" for a token, empty with logins off
    QString address;  // the client's address as the service saw it
    QString route;    // method and path, e.g. "POST /KORVA/uploadFile"
    QString action;   // e.g. "login", "package_upload"
    QString summary;
};
