#pragma once

#include <mutex>

#include <QHash>
#include <QString>

#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"

struct ReportRows;
class Notifier;
struct UpgradeDecision;
class ReportWriteQueue;
class UpgradeMetrics;

// What the console shows of the device conversation beyond the device table: each terminal's
// last report time and presence, the history of the upgrades handed out with their outcomes,
// and the last upgrade decision with its reason. The message handler calls one hook per event,
// on the main thread; the hooks write the database through writes, so the conversation goes on
// when a write fails, and what could not be written while the database was away is written
// when it is back.
class DeviceActivity {
  public:
    // This instance of the service in the presence table (InstanceName); the upgrades handed
    // out and completed are counted into metrics, which outlives it.
    DeviceActivity(const QString& instanceName, UpgradeMetrics& metrics, ReportWriteQueue& writes);
    const QString& instanceName() const { return m_instance; }
    ReportWriteQueue& writes() { return m_writes; }
    // Told of each identity conflict recorded; set before the first report.
    void setNotifier(Notifier* notifier) { m_notifier = notifier; }

    // Start-up: presence rows an earlier run of this instance left behind are stale.
    void clearStalePresence();

    // An accepted report of the terminal on this connection. The first report after 100 on
    // a later connection judges that upgrade: succeeded when it reports the package's versions,
    // reverted when it is still behind.
    // peer: the terminal's "address:port" as the link knows it (through a load balancer, the
    // one its PROXY header named); empty when the link does not know it. outcomePending false:
    // the lookup found no upgrade to judge, so none is looked for. With rows, the presence goes
    // there, to be written with the decision; otherwise it is written now.
    void reported(qintptr socketId, const struDeviceInfo& report, const QString& peer = QString(),
                  bool outcomePending = true, ReportRows* rows = nullptr);
    // The upgrade decision of a report; package is the type's, when hasPackage. Written with
    // what reported() left in rows.
    void decided(const struDeviceInfo& report, bool hasPackage, const struPackageInfo& package,
                 const UpgradeDecision& decision, ReportRows& rows);
    // A report refused because devSN is pinned to another device ID than devId; recorded apart
    // from the terminal's decision, at most once per kConflictWindowSeconds for a serial number
    // so that impostors reconnecting in a flood do not write at their pace.
    void identityConflict(qintptr socketId, const QString& devSN, const QString& devId,
                          const QString& peer = QString());
    // The connection's terminal was handed the package download url. Handed the same package
    // again on the same connection, it goes on with the attempt it has.
    void upgradeStarted(qintptr socketId, const QString& url);
    // A progress report; 100 completes the attempt.
    void progressed(qintptr socketId, int percent);
    void disconnected(qintptr socketId);
    // Connections whose terminal has reported; any thread.
    int terminalsOnline();
    // An event of the terminal's timeline (a kEvent name of model/struDeviceEvent.h) that the
    // hooks above do not note by themselves; with rows, written with the report's rows.
    void note(const QString& devSN, const char* kind, const QString& detail,
              ReportRows* rows = nullptr);

  private:
    struct Connection {
        QString devSN;
        qint32 connectedSince = 0;
        // Reported 100 here: a report on the same connection comes before the install.
        bool completedHere = false;
        // The package last handed out here: offered again on this connection, it is the same
        // attempt, not a new row per report.
        qint32 offeredPackageId = 0;
        QString offeredPackageName;
        // The last decision noted in the timeline: a repeated one is not noted again.
        QString decision;
    };
    // False when it could not be read or written.
    bool judgeOutcome(const struDeviceInfo& report);
    // Drops the serial number's entry when it names this connection; m_mutex held.
    void forgetSerialOf(qintptr socketId, const Connection& connection);
    // Whether the decision differs from the last one noted on the terminal's connection.
    bool decisionChanged(const QString& devSN, const QString& decision);
    // The connection's terminal; empty when it has not reported.
    QString terminalOf(qintptr socketId);

    static constexpr qint32 kConflictWindowSeconds = 10;
    static constexpr int kConflictsHeld = 4096;

    QString m_instance;
    UpgradeMetrics& m_metrics;
    ReportWriteQueue& m_writes;
    std::mutex m_mutex;  // guards m_connections, m_socketBySN and m_conflictWrites
    QHash<qintptr, Connection> m_connections;
    // The connection each serial number last reported on: a report finds its terminal's
    // earlier connection without a look at every other.
    QHash<QString, qintptr> m_socketBySN;
    // When each serial number's conflict was last written, within the window; bounded.
    QHash<QString, qint32> m_conflictWrites;
    Notifier* m_notifier = nullptr;
};
