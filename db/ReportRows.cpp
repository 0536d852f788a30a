#include "db/ReportRows.h"

#include <array>

#include <QDebug>
#include <QSqlQuery>

#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_DevicePresence.h"
#include "db/Tab_UpgradeDecision.h"

namespace {
enum DeviceWrite { kNone, kReport, kReportPin };
constexpr int kEventsAtMost = 4;  // connected, pinned, reported, decided

// The writes of tables apart, in one statement: the sub-statements of a WITH each see the
// database as it was, which none of them needs otherwise.
QString combinedText(DeviceWrite device, int events) {
    QStringList parts;
    if (device != kNone)
        parts << QStringLiteral("d as (%1)")
                     .arg(Tab_DeviceInfo::reportStatement(device == kReportPin));
    parts << QStringLiteral("p as (%1)").arg(Tab_DevicePresence::columns().upsert());
    if (events > 0)
        parts << QStringLiteral("t as (%1)").arg(Tab_DeviceEvent::trimPart())
              << QStringLiteral("e as (%1)").arg(Tab_DeviceEvent::insertPart(events));
    return QStringLiteral("with %1 %2")
        .arg(parts.join(QLatin1Char(',')), Tab_UpgradeDecision::columns().upsert());
}

const QString& combined(DeviceWrite device, int events) {
    static const auto statements = [] {
        std::array<std::array<QString, kEventsAtMost + 1>, 3> all;
        for (int d = kNone; d <= kReportPin; ++d)
            for (int e = 0; e <= kEventsAtMost; ++e)
                all[d][e] = combinedText(static_cast<DeviceWrite>(d), e);
        return all;
    }();
    return statements[device][events];
}
}  // namespace

bool ReportRows::write() const {
    if (!SQLiteDb::instance()->isPostgreSQL()) {
        bool ok = !device || Tab_DeviceInfo().refreshFromReport(*device, pin);
        ok = Tab_DevicePresence::recordReport(presence) && ok;
        ok = Tab_UpgradeDecision::record(decision) && ok;
        for (const struDeviceEvent& event : events) ok = Tab_DeviceEvent::record(event) && ok;
        return ok;
    }
    // More events than a report notes go one by one after the rest.
    const QList<struDeviceEvent> together = events.mid(0, kEventsAtMost);
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(combined(!device ? kNone
                                                   : pin   ? kReportPin
                                                           : kReport,
                                                   together.size()));
    int at = device ? Tab_DeviceInfo::bindReport(query, *device, pin, 0) : 0;
    at = Tab_DevicePresence::columns().bindAll(query, presence, at);
    at = Tab_DeviceEvent::bindParts(query, together, at);
    Tab_UpgradeDecision::columns().bindAll(query, decision, at);
    if (!query.exec()) {
        qDebug("write report rows fail");
        return false;
    }
    bool ok = true;
    for (const struDeviceEvent& event : events.mid(kEventsAtMost))
        ok = Tab_DeviceEvent::record(event) && ok;
    return ok;
}
