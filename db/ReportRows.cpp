#include "db/ReportRows.h"

#include <QDebug>
#include <QSqlQuery>

#include "db/PooledConnection.h"
#include "db/SqlDialect.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_DevicePresence.h"
#include "db/Tab_UpgradeDecision.h"

namespace {
enum DeviceWrite { kNone, kReport, kReportPin };

// The writes of tables apart, in one statement: the sub-statements of a WITH each see the
// database as it was, which none of them needs otherwise.
const QString& combined(DeviceWrite device) {
    static const QString statements[] = {
        QStringLiteral("with p as (%1) %2")
            .arg(Tab_DevicePresence::columns().upsert(), Tab_UpgradeDecision::columns().upsert()),
        QStringLiteral("with d as (%1), p as (%2) %3")
            .arg(Tab_DeviceInfo::reportStatement(false), Tab_DevicePresence::columns().upsert(),
                 Tab_UpgradeDecision::columns().upsert()),
        QStringLiteral("with d as (%1), p as (%2) %3")
            .arg(Tab_DeviceInfo::reportStatement(true), Tab_DevicePresence::columns().upsert(),
                 Tab_UpgradeDecision::columns().upsert())};
    return statements[device];
}
}  // namespace

bool ReportRows::write() const {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    if (!SqlDialect::isPostgreSQL(connection.database())) {
        bool ok = !device || Tab_DeviceInfo().refreshFromReport(*device, pin);
        ok = Tab_DevicePresence::recordReport(presence) && ok;
        return Tab_UpgradeDecision::record(decision) && ok;
    }
    QSqlQuery& query = connection.prepare(combined(!device ? kNone : pin ? kReportPin : kReport));
    int at = device ? Tab_DeviceInfo::bindReport(query, *device, pin, 0) : 0;
    at = Tab_DevicePresence::columns().bindAll(query, presence, at);
    Tab_UpgradeDecision::columns().bindAll(query, decision, at);
    if (query.exec()) return true;
    qDebug("write report rows fail");
    return false;
}
