#include "api/auth/AuditLog.h"

#include <QDateTime>
#include <QDebug>

#include "api/auth/Caller.h"
#include "db/Tab_AuditLog.h"

void AuditLog::record(const Caller& caller, const QString& address, const QString& route,
                      const QString& action, const QString& summary) {
    recordAs(caller.auditName(), address, route, action, summary);
}

void AuditLog::recordSystem(const QString& action, const QString& summary) {
    recordAs(QStringLiteral("system"), QString(), QString(), action, summary);
}

void AuditLog::recordAs(const QString& account, const QString& address, const QString& route,
                        const QString& action, const QString& summary) {
    struAuditEntry entry;
    entry.at = QDateTime::currentMSecsSinceEpoch();
    entry.account = account;
    entry.address = address;
    entry.route = route;
    entry.action = action;
    entry.summary = summary.left(500);
    if (!Tab_AuditLog().insertEntry(entry)) qDebug("[AuditLog] write audit entry fail");
}
