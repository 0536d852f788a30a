#include "device/DeviceActivity.h"

#include <algorithm>
#include <iterator>

#include <QDateTime>
#include <QJsonObject>

#include "core/Logger.h"
#include "db/ReportRows.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_DevicePresence.h"
#include "db/Tab_IdentityConflict.h"
#include "db/Tab_Package.h"
#include "db/Tab_UpgradeAttempt.h"
#include "device/ReportWriteQueue.h"
#include "device/UpgradeMetrics.h"
#include "model/ComponentVersions.h"
#include "notify/Notifier.h"
#include "upgrade/UpgradeDecision.h"
#include "upgrade/UpgradeRules.h"

namespace {
qint32 now() {
    return static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
}

struDeviceEvent makeEvent(const QString& devSN, const char* kind,
                          const QString& detail = QString()) {
    struDeviceEvent event;
    event.devSN = devSN;
    event.at = now();
    event.kind = QLatin1String(kind);
    event.detail = detail;
    return event;
}

void fail(const char* operation, const QString& devSN) {
    getLogger("DeviceActivity")->info("{}, write failed for {}", operation, devSN.toStdString());
}
}  // namespace

DeviceActivity::DeviceActivity(const QString& instanceName, UpgradeMetrics& metrics,
                               ReportWriteQueue& writes)
    : m_instance(instanceName), m_metrics(metrics), m_writes(writes) {}

void DeviceActivity::clearStalePresence() {
    if (!Tab_DevicePresence::clearInstance(m_instance))
        fail("DeviceActivity::clearStalePresence", m_instance);
}

QString DeviceActivity::terminalOf(qintptr socketId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections.value(socketId).devSN;
}

void DeviceActivity::forgetSerialOf(qintptr socketId, const Connection& connection) {
    const auto entry = m_socketBySN.find(connection.devSN);
    if (entry != m_socketBySN.end() && entry.value() == socketId) m_socketBySN.erase(entry);
}

void DeviceActivity::note(const QString& devSN, const char* kind, const QString& detail,
                          ReportRows* rows) {
    const struDeviceEvent event = makeEvent(devSN, kind, detail);
    if (rows) {
        rows->events.append(event);
        return;
    }
    m_writes.submit(devSN, "DeviceActivity::note",
                    [event] { return Tab_DeviceEvent::record(event); });
}

void DeviceActivity::reported(qintptr socketId, const struDeviceInfo& report, const QString& peer,
                              bool outcomePending, ReportRows* rows) {
    const QString& devSN = report.devSN;
    bool completedHere = false;
    bool connected = false;
    struDevicePresence presence;
    presence.devSN = devSN;
    presence.instance = m_instance;
    presence.lastReport = now();
    presence.peerAddress = peer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // An earlier connection of the same terminal is gone even if its close comes later.
        const auto earlier = m_socketBySN.constFind(devSN);
        if (earlier != m_socketBySN.constEnd() && earlier.value() != socketId)
            m_connections.remove(earlier.value());
        Connection& connection = m_connections[socketId];
        if (connection.devSN != devSN) {
            forgetSerialOf(socketId, connection);
            connection = Connection{devSN, presence.lastReport, false, 0, QString(), QString()};
            connected = true;
        }
        m_socketBySN.insert(devSN, socketId);
        presence.connectedSince = connection.connectedSince;
        completedHere = connection.completedHere;
    }
    if (rows)
        rows->presence = presence;
    else
        m_writes.submit(devSN, "DeviceActivity::reported",
                        [presence] { return Tab_DevicePresence::recordReport(presence); });
    // With the report's rows unless an outcome may be judged first: the timeline keeps the order
    // (the report's own events follow the same rule).
    if (connected) note(devSN, kEventConnected, peer, outcomePending ? nullptr : rows);
    if (!completedHere && outcomePending)
        m_writes.submit(devSN, "DeviceActivity::judgeOutcome",
                        [this, report] { return judgeOutcome(report); });
}

bool DeviceActivity::judgeOutcome(const struDeviceInfo& report) {
    struUpgradeAttempt attempt;
    bool found = false;
    if (!Tab_UpgradeAttempt::completedUnjudged(report.devSN, attempt, found)) return false;
    if (!found) return true;
    struPackageInfo package;
    bool behind = false;
    if (Tab_Package().getPackageById(attempt.packageId, package) &&
        package.packageName == attempt.packageName) {
        behind = packageHasNewerComponent(report, package);
    } else {
        // The package was replaced meanwhile: back on the versions it started from is behind.
        behind = std::all_of(std::begin(kComponentVersions), std::end(kComponentVersions),
                             [&](const ComponentVersion& component) {
                                 return report.*component.device == attempt.*component.before;
                             });
    }
    const char* outcome = behind ? kOutcomeReverted : kOutcomeSucceeded;
    if (!Tab_UpgradeAttempt::judge(attempt.id, QLatin1String(outcome), now())) return false;
    // Its 100 was no completion: the terminal keeps the completion time it had before.
    if (behind)
        Tab_DeviceInfo().revertCompletion(report.devSN, attempt.startedAt,
                                          attempt.fromCompletionTime);
    Tab_DeviceEvent::record(
        makeEvent(report.devSN, kEventUpgradeOutcome,
                  attempt.packageName + QLatin1Char(' ') + QLatin1String(outcome)));
    getLogger("DeviceActivity")
        ->info("{}, upgrade {} of {} to {}: {}", "DeviceActivity::judgeOutcome", attempt.id,
               report.devSN.toStdString(), attempt.packageName.toStdString(), outcome);
    return true;
}

void DeviceActivity::decided(const struDeviceInfo& report, bool hasPackage,
                             const struPackageInfo& package, const UpgradeDecision& decision,
                             ReportRows& rows) {
    struUpgradeDecision& row = rows.decision;
    row.devSN = report.devSN;
    row.decidedAt = now();
    row.devType = report.devType;
    if (hasPackage) {
        row.packageId = package.id;
        row.packageName = package.packageName;
    }
    row.offered = decision.offered();
    row.reason = QLatin1String(decisionReasonCode(decision.reason));
    row.detail = decision.detail;
    const QString noted =
        row.detail.isEmpty() ? row.reason : row.reason + QStringLiteral(": ") + row.detail;
    if (decisionChanged(report.devSN, noted)) note(report.devSN, kEventDecided, noted, &rows);
    const char* const what = "DeviceActivity::decided";
    m_writes.submit(report.devSN, what, [this, rows, what] {
        // Rows held for a batch statement fail after this returns: counted as dropped then.
        return rows.write(
            [this, devSN = rows.decision.devSN, what] { m_writes.dropped(devSN, what); });
    });
}

bool DeviceActivity::decisionChanged(const QString& devSN, const QString& decision) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto socket = m_socketBySN.constFind(devSN);
    if (socket == m_socketBySN.constEnd()) return true;
    auto connection = m_connections.find(socket.value());
    if (connection == m_connections.end()) return true;
    if (connection->decision == decision) return false;
    connection->decision = decision;
    return true;
}

void DeviceActivity::identityConflict(qintptr socketId, const QString& devSN, const QString& devId,
                                      const QString& peer) {
    struIdentityConflict row;
    row.devSN = devSN;
    row.conflictAt = now();
    row.devId = devId;
    row.address = peer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto last = m_conflictWrites.constFind(devSN);
        if (last != m_conflictWrites.constEnd() && row.conflictAt - *last < kConflictWindowSeconds)
            return;
        if (m_conflictWrites.size() >= kConflictsHeld) {
            for (auto it = m_conflictWrites.begin(); it != m_conflictWrites.end();)
                it = row.conflictAt - *it < kConflictWindowSeconds ? std::next(it)
                                                                   : m_conflictWrites.erase(it);
            // As many serial numbers within one window: the rest wait for it to pass.
            if (m_conflictWrites.size() >= kConflictsHeld) return;
        }
        m_conflictWrites.insert(devSN, row.conflictAt);
    }
    m_writes.submit(devSN, "DeviceActivity::identityConflict",
                    [row] { return Tab_IdentityConflict::record(row); });
    if (m_notifier)
        m_notifier->notify(NotifyEvent::IdentityConflict,
                           QJsonObject{{"devSN", devSN}, {"devId", devId}, {"address", peer}});
}

void DeviceActivity::upgradeStarted(qintptr socketId, const QString& url) {
    const QString devSN = terminalOf(socketId);
    if (devSN.isEmpty()) return;
    // The report just stored the terminal's versions: they are the ones before the upgrade.
    struDeviceInfo device;
    struPackageInfo package;
    if (Tab_DeviceInfo().getDeviceBySN(device, devSN) != Tab_DeviceInfo::RowState::Found ||
        !Tab_Package().getPackageByType(device.devType, package)) {
        fail("DeviceActivity::upgradeStarted", devSN);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto connection = m_connections.find(socketId);
        if (connection == m_connections.end()) return;
        if (connection->offeredPackageId == package.id &&
            connection->offeredPackageName == package.packageName)
            return;
        connection->offeredPackageId = package.id;
        connection->offeredPackageName = package.packageName;
    }
    m_metrics.started(devSN, package.id, package.packageName);
    struUpgradeAttempt attempt;
    attempt.devSN = devSN;
    attempt.devType = device.devType;
    attempt.packageId = package.id;
    attempt.packageName = package.packageName;
    for (const ComponentVersion& component : kComponentVersions)
        attempt.*component.before = device.*component.device;
    attempt.fromCompletionTime = device.UpgradeCompletionTime;
    attempt.url = url;
    attempt.startedAt = now();
    m_writes.submit(devSN, "DeviceActivity::upgradeStarted",
                    [attempt] { return Tab_UpgradeAttempt::start(attempt); });
    note(devSN, kEventUpgradeStarted, package.packageName);
}

void DeviceActivity::progressed(qintptr socketId, int percent) {
    QString devSN;
    bool completes = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto connection = m_connections.find(socketId);
        if (connection == m_connections.end()) return;
        devSN = connection->devSN;
        completes = percent == 100 && !connection->completedHere;
        if (percent == 100) connection->completedHere = true;
    }
    if (devSN.isEmpty()) return;
    // A step below 100 that waits for the database is replaced by the next one.
    m_writes.submit(
        devSN, percent == 100 ? "DeviceActivity::completed" : "DeviceActivity::progressed",
        [this, devSN, percent, at = now()] {
            bool stored = false;
            if (!Tab_UpgradeAttempt::progress(devSN, percent, at, &stored)) return false;
            // Counted as the console counts it: a completion the database did not take is none.
            if (percent == 100 && stored) m_metrics.completed(devSN);
            return true;
        },
        percent < 100);
    if (completes) note(devSN, kEventUpgradeCompleted, QString());
}

void DeviceActivity::disconnected(qintptr socketId) {
    QString devSN;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Connection gone = m_connections.take(socketId);
        forgetSerialOf(socketId, gone);
        devSN = gone.devSN;
    }
    if (devSN.isEmpty()) return;
    m_writes.submit(devSN, "DeviceActivity::disconnected",
                    [instance = m_instance, event = makeEvent(devSN, kEventDisconnected)] {
                        return Tab_DevicePresence::depart(instance, event);
                    });
}

int DeviceActivity::terminalsOnline() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections.size();
}
