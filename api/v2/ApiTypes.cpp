#include "api/v2/ApiTypes.h"

#include <QJsonDocument>
#include <QJsonObject>

const char* roleName(Role role) {
    switch (role) {
        case Role::Public:
            return "public";
        case Role::Viewer:
            return "viewer";
        case Role::Operator:
            return "operator";
        case Role::Admin:
            return "admin";
    }
    return "public";
}

bool roleFromName(const QString& name, Role& role) {
    for (Role candidate : {Role::Viewer, Role::Operator, Role::Admin}) {
        if (name == QLatin1String(roleName(candidate))) {
            role = candidate;
            return true;
        }
    }
    return false;
}

ApiReply ApiReply::json(int status, const QByteArray& document) {
    ApiReply reply;
    reply.status = status;
    reply.body = document;
    return reply;
}

ApiReply ApiReply::noContent() {
    ApiReply reply;
    reply.status = 204;
    return reply;
}

ApiReply ApiReply::error(int status, const QString& code, const QString& message) {
    const QJsonObject error{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
    return json(status, QJsonDocument(QJsonObject{{QStringLiteral("error"), error}})
                            .toJson(QJsonDocument::Compact));
}

ApiReply ApiReply::file(const QString& path, const QByteArray& contentType,
                        const QString& downloadName) {
    ApiReply reply;
    reply.filePath = path;
    reply.contentType = contentType;
    reply.downloadName = downloadName;
    return reply;
}
