#include "db/ReportRows.h"

#include <array>

#include <QByteArray>
#include <QDebug>
#include <QSet>
#include <QSqlQuery>

#include "db/PinnedTransaction.h"
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

// The rows of many reports, each table's as a JSON array read as rows of the table's type.
const QString& together() {
    static const QString statement = [] {
        const QString rows = QStringLiteral("json_populate_recordset(null::%1,?::json)");
        const QString device = rows.arg(QLatin1String("Tab_DeviceInfo"));
        QStringList parts;
        parts
            << QStringLiteral("d as (%1)").arg(Tab_DeviceInfo::reportStatementFrom(false, device))
            << QStringLiteral("dp as (%1)").arg(Tab_DeviceInfo::reportStatementFrom(true, device))
            << QStringLiteral("p as (%1)")
                   .arg(Tab_DevicePresence::columns().upsertFrom(
                       rows.arg(QLatin1String("Tab_DevicePresence"))))
            << QStringLiteral("ev as (select * from %1 with ordinality)")
                   .arg(rows.arg(QLatin1String("Tab_DeviceEvent")))
            << QStringLiteral("t as (%1)").arg(Tab_DeviceEvent::trimPartFrom(QStringLiteral("ev")))
            << QStringLiteral("e as (%1)")
                   .arg(Tab_DeviceEvent::insertPartFrom(QStringLiteral("ev")));
        return QStringLiteral("with %1 %2")
            .arg(parts.join(QLatin1Char(',')), Tab_UpgradeDecision::columns().upsertFrom(
                                                   rows.arg(QLatin1String("Tab_UpgradeDecision"))));
    }();
    return statement;
}

// Starts the next element of a JSON array opened with '['.
QByteArray& next(QByteArray& array) {
    if (array.size() > 1) array += ',';
    return array;
}

// One statement may write a terminal's rows only once.
bool writeTogether(const std::vector<const ReportRows*>& all) {
    enum { kDevices, kPinned, kPresence, kEvents, kDecisions, kArrays };
    std::array<QByteArray, kArrays> arrays;
    for (QByteArray& array : arrays) array = QByteArrayLiteral("[");
    for (const ReportRows* rows : all) {
        if (rows->device)
            Tab_DeviceInfo::appendReport(next(arrays[rows->pin ? kPinned : kDevices]),
                                         *rows->device, rows->pin);
        Tab_DevicePresence::columns().appendJson(next(arrays[kPresence]), rows->presence);
        for (const struDeviceEvent& event : rows->events)
            Tab_DeviceEvent::columns().appendJson(next(arrays[kEvents]), event);
        Tab_UpgradeDecision::columns().appendJson(next(arrays[kDecisions]), rows->decision);
    }
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(together());
    for (int i = 0; i < kArrays; ++i) {
        QByteArray& array = arrays[static_cast<size_t>(i)];
        array += ']';
        query.bindValue(i, QString::fromUtf8(array));
    }
    if (query.exec()) return true;
    qDebug("write report rows fail");
    return false;
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

bool ReportRows::write(std::function<void()> refused) const {
    PinnedTransaction* scope = PinnedTransaction::current();
    if (!scope || !SQLiteDb::instance()->isPostgreSQL()) return writeNow();
    scope->hold(*this, std::move(refused));
    return true;
}

bool ReportRows::writeAll(const std::vector<const ReportRows*>& all) {
    constexpr size_t kRowsAtMost = 256;  // keeps a statement's text within a few hundred KiB
    std::vector<const ReportRows*> chunk;
    QSet<QString> terminals;
    for (const ReportRows* rows : all) {
        if (chunk.size() >= kRowsAtMost || terminals.contains(rows->decision.devSN)) {
            if (!writeTogether(chunk)) return false;
            chunk.clear();
            terminals.clear();
        }
        chunk.push_back(rows);
        terminals.insert(rows->decision.devSN);
    }
    return chunk.empty() || writeTogether(chunk);
}

bool ReportRows::writeNow() const {
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
