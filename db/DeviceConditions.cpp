#include "db/DeviceConditions.h"

#include <QStringList>

#include "db/DeviceSearch.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_UpgradeAttempt.h"

namespace {
const QString kFilePending = QStringLiteral(
    "(d.GetLogFile<>0 or d.GetIndexFile<>0 or d.GetPrintFile<>0 or d.GetRunInfoFile<>0)");
const QString kForced = QStringLiteral("d.isAutoUpdate<>0");
const QString kCommand = QStringLiteral("coalesce(d.ConfigCmd,'')<>''");

// "Some pending" counts from the partial index idx_DeviceInfo_pending, whose condition is this
// text without the alias: change both together.
QString pending(DeviceFilter::Pending pending) {
    const QString some = QStringLiteral("(%1 or %2 or %3)").arg(kForced, kCommand, kFilePending);
    switch (pending) {
        case DeviceFilter::Pending::Forced:
            return kForced;
        case DeviceFilter::Pending::Command:
            return kCommand;
        case DeviceFilter::Pending::File:
            return kFilePending;
        case DeviceFilter::Pending::Some:
            return some;
        case DeviceFilter::Pending::None:
            return QStringLiteral("not ") + some;
        case DeviceFilter::Pending::Any:
            break;
    }
    return QString();
}

// The set of terminals is small next to the table: it is built once and probed per row.
QString upgrade(const DeviceFilter& filter, QVariantList& binds) {
    UpgradeAttemptState state = UpgradeAttemptState::Running;
    switch (filter.upgrade) {
        case DeviceFilter::Upgrade::Any:
            return QString();
        case DeviceFilter::Upgrade::None:
            return QStringLiteral("d.devSN not in (select a.devSN from Tab_UpgradeAttempt a)");
        case DeviceFilter::Upgrade::Running:
            break;
        case DeviceFilter::Upgrade::Stalled:
            state = UpgradeAttemptState::Stalled;
            break;
        case DeviceFilter::Upgrade::Completed:
            state = UpgradeAttemptState::Completed;
            break;
    }
    return QStringLiteral(
               "d.devSN in (select a.devSN from Tab_UpgradeAttempt a where "
               "a.isCurrent<>0 and %1)")
        .arg(Tab_UpgradeAttempt::stateCondition(state, filter.stalledBefore, binds));
}
}  // namespace

QString DeviceConditions::online() {
    return QStringLiteral("d.devSN in (select p.devSN from Tab_DevicePresence p)");
}

QStringList DeviceConditions::terms(const QSqlDatabase& db, const DeviceFilter& filter,
                                    QVariantList& binds, Use use) {
    QStringList terms;
    if (!filter.q.isEmpty())
        terms << DeviceSearch::condition(db, filter.q, use == Use::Count, binds);
    if (!filter.q.isEmpty() && !filter.searchDeviceId)
        terms << DeviceSearch::outsideDeviceId(db, filter.q, binds);
    for (const auto& equal : filter.equal) {
        terms << QStringLiteral("d.%1=?").arg(
            QLatin1String(Tab_DeviceInfo::columns().name(equal.first)));
        binds << equal.second;
    }
    for (const auto& notEqual : filter.notEqual) {
        terms << QStringLiteral("coalesce(d.%1,'')<>?")
                     .arg(QLatin1String(Tab_DeviceInfo::columns().name(notEqual.first)));
        binds << notEqual.second;
    }
    // A count goes fastest from the presence rows to the device rows; a page that follows an
    // index must look each row up instead, or the planner drives from the presence list and sorts
    // every connected terminal.
    const QString connected = use == Use::Count
                                  ? online()
                                  : QStringLiteral(
                                        "exists (select 1 from Tab_DevicePresence p where "
                                        "p.devSN=d.devSN)");
    if (filter.online == DeviceFilter::Online::Yes) terms << connected;
    if (filter.online == DeviceFilter::Online::No) terms << QStringLiteral("not ") + connected;
    const QString tasks = pending(filter.pending);
    if (!tasks.isEmpty()) terms << tasks;
    const QString attempt = upgrade(filter, binds);
    if (!attempt.isEmpty()) terms << attempt;
    if (filter.bySerials) {
        QStringList marks;
        for (const QString& serial : filter.serials) {
            marks << QStringLiteral("?");
            binds << serial;
        }
        terms << (marks.isEmpty() ? QStringLiteral("0=1")
                                  : QStringLiteral("d.devSN in (%1)").arg(marks.join(',')));
    }
    return terms;
}

QString DeviceConditions::where(const QSqlDatabase& db, const DeviceFilter& filter,
                                QVariantList& binds, Use use) {
    const QStringList all = terms(db, filter, binds, use);
    return all.isEmpty() ? QString()
                         : QStringLiteral(" where ") + all.join(QStringLiteral(" and "));
}
