#include "tests/support/Login.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/support/ServiceProcess.h"

QList<QPair<QByteArray, QByteArray>> Login::headers(bool withCsrf) const {
    QList<QPair<QByteArray, QByteArray>> list{{"Cookie", cookie},
                                              {"Content-Type", "application/json"}};
    if (withCsrf) list.append({"X-CSRF-Token", csrf});
    return list;
}

Login logIn(quint16 port, const QString& name, const QString& password, HttpResponse* reply) {
    const QByteArray body =
        QJsonDocument(QJsonObject{{"name", name}, {"password", password}}).toJson();
    const HttpResponse response = httpRequest(port, "POST", "/KORVA/v2/auth/login",
                                              {{"Content-Type", "application/json"}}, body);
    if (reply) *reply = response;
    Login login;
    if (response.status != 200) return login;
    login.cookie = response.header("Set-Cookie").split(';').value(0);
    login.csrf =
        QJsonDocument::fromJson(response.body).object().value("csrfToken").toString().toLatin1();
    return login;
}

Login makeAccount(quint16 port, const Login& admin, const QString& name, const QString& role) {
    const QByteArray created =
        QJsonDocument(QJsonObject{{"name", name}, {"role", role}, {"password", "handed-over"}})
            .toJson();
    if (httpRequest(port, "POST", "/KORVA/v2/accounts", admin.headers(), created).status != 201)
        return Login();
    const Login login = logIn(port, name, "handed-over");
    const QByteArray change = QJsonDocument(QJsonObject{{"currentPassword", "handed-over"},
                                                        {"newPassword", name + "-secret"}})
                                  .toJson();
    if (httpRequest(port, "POST", "/KORVA/v2/auth/password", login.headers(), change).status != 200)
        return Login();
    return login;
}

Login takeOverAdmin(ServiceProcess& service, const QString& newPassword) {
    QFile file(service.path("initial-admin-password"));
    if (!file.open(QIODevice::ReadOnly)) return Login();
    const QString first = QString::fromUtf8(file.readAll()).trimmed();
    Login login = logIn(service.httpPort(), "admin", first);
    if (!login.valid()) return Login();
    const QByteArray body =
        QJsonDocument(QJsonObject{{"currentPassword", first}, {"newPassword", newPassword}})
            .toJson();
    const HttpResponse changed =
        httpRequest(service.httpPort(), "POST", "/KORVA/v2/auth/password", login.headers(), body);
    return changed.status == 200 ? login : Login();
}
