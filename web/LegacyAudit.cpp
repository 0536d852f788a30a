#include "web/LegacyAudit.h"

#include "api/auth/AuditLog.h"
#include "api/legacy/EntityJson.h"
#include "api/legacy/struUploadParam.h"
#include "db/Tab_Package.h"

LegacyAudit::LegacyAudit(const Caller& caller, const QString& address, const QString& route)
    : m_caller(caller), m_address(address), m_route(route) {}

void LegacyAudit::record(const char* action, const QString& summary) {
    AuditLog::record(m_caller, m_address, m_route, QString::fromLatin1(action), summary);
}

void LegacyAudit::packageBlockStored(const QString& url) {
    EntityJson codec;
    struUploadParam param;
    if (!codec.ParseUploadParam(url, param) || param.blockIndex + 1 != param.blockSize) return;
    record("package_upload", QStringLiteral("型号 %1：%2_%3，%4 字节")
                                 .arg(param.type, param.uploadTime, param.name)
                                 .arg(param.totalLength));
}

QString LegacyAudit::describeDeletion(const QByteArray& body) {
    EntityJson codec;
    int id = 0;
    struPackageInfo package;
    if (!codec.ParsePackageId(body, id)) return QString();
    if (!Tab_Package().getPackageById(id, package)) return QStringLiteral("id %1").arg(id);
    return QStringLiteral("id %1：%2（型号 %3）")
        .arg(id)
        .arg(package.packageName, package.deviceType);
}

void LegacyAudit::packageDeleted(const QString& description) {
    record("package_delete", description);
}

void LegacyAudit::devicesImported(const QString& url, int rows) {
    const int at = url.indexOf(QLatin1String("name="));
    const QString file = at < 0 ? QString() : url.mid(at + 5);
    record("device_import", QStringLiteral("%1：保存 %2 行").arg(file).arg(rows));
}

void LegacyAudit::forcedUpgradesCleared() {
    record("forced_upgrade_clear", QStringLiteral("清除全部终端的强制升级标记"));
}
