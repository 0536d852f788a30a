#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include "tests/support/HttpClient.h"

class ServiceProcess;

// A logged-in browser session as a test holds it: the cookie and the CSRF token.
struct Login {
    QByteArray cookie;  // "wf_session=..."
    QByteArray csrf;

    bool valid() const { return !cookie.isEmpty(); }
    // Headers of a request in this session; the CSRF token too unless told otherwise.
    QList<QPair<QByteArray, QByteArray>> headers(bool withCsrf = true) const;
};

// POST /KORVA/v2/auth/login; the session when it answers 200. The reply goes to `reply`.
Login logIn(quint16 port, const QString& name, const QString& password,
            HttpResponse* reply = nullptr);

// An account of that role made by the admin and taken over by its owner (the forced first
// change, to "<name>-secret"); its session, invalid when any step fails.
Login makeAccount(quint16 port, const Login& admin, const QString& name, const QString& role);

// The first start with logins on: logs in as admin with the password from the file beside the
// service and sets newPassword, as the forced change demands. Invalid when any step fails.
Login takeOverAdmin(ServiceProcess& service, const QString& newPassword);
