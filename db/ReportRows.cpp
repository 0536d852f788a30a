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
// The rows of many reports, each table's from a JSON array. The sub-statements of a WITH each see
// the database as it was, which none of them needs otherwise.
const QString& together() {
    static const QString statement =
        QStringLiteral("with d as (%1),dp as (%2),p as (%3),%4,e as (%5) %6")
            .arg(Tab_DeviceInfo::reportStatementFrom(false),
                 Tab_DeviceInfo::reportStatementFrom(true),
                 Tab_DevicePresence::columns().upsertFrom(
                     Tab_DevicePresence::columns().rowsFromJson()),
                 Tab_DeviceEvent::readAndTrimParts(), Tab_DeviceEvent::insertPart(),
                 Tab_UpgradeDecision::columns().upsertFrom(
                     Tab_UpgradeDecision::columns().rowsFromJson()));
    return statement;
}

// One statement may write a terminal's rows only once.
bool writeTogether(const std::vector<const ReportRows*>& all) {
    enum { kDevices, kPinned, kPresence, kEvents, kDecisions, kArrays };
    std::array<QByteArray, kArrays> arrays;
    for (QByteArray& array : arrays) array = QByteArrayLiteral("[");
    for (const ReportRows* rows : all) {
        if (rows->device)
            Tab_DeviceInfo::appendReport(arrays[rows->pin ? kPinned : kDevices], *rows->device,
                                         rows->pin);
        Tab_DevicePresence::columns().appendJsonElement(arrays[kPresence], rows->presence);
        for (const struDeviceEvent& event : rows->events)
            Tab_DeviceEvent::columns().appendJsonElement(arrays[kEvents], event);
        Tab_UpgradeDecision::columns().appendJsonElement(arrays[kDecisions], rows->decision);
    }
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(together());
    for (int i = 0; i < kArrays; ++i)
        query.bindValue(i, QString::fromUtf8(arrays[static_cast<size_t>(i)] + ']'));
    if (query.exec()) return true;
    qDebug("write report rows fail");
    return false;
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
    return writeTogether({this});
}
