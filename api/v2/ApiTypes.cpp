#include "api/v2/ApiTypes.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "api/auth/AuditLog.h"
#include "core/LocalParaMgt.h"

struLocalParam ApiRequest::parameters() const {
    struLocalParam param;
    settings->readLocalParam(param);
    return param;
}

void ApiRequest::audit(const QString& action, const QString& summary) const {
    AuditLog::recordAs(account, clientAddress,
                       QString::fromLatin1(method) + QLatin1Char(' ') + path, action, summary);
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
