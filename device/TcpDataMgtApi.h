#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMultiHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>

#include "codec/SocketPacketHandler.h"
#include "core/struLocalParam.h"
#include "db/Tab_DeviceInfo.h"
#include "device/BurstLog.h"
#include "device/DevFilePaths.h"
#include "device/RegistrationLimiter.h"
#include "device/SlotPriority.h"
#include "device/TerminalLink.h"
#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"

class DeviceActivity;
class FileOperation;
class QTimer;
class Tab_DeviceInfo;
class Tab_Package;
class TerminalMetrics;

// The service's side of the device conversation, living in the main thread: registers
// terminals, decides their upgrades, sends pending commands and file requests, stores uploaded
// file chunks and keeps, per connection, the record with the upgrade progress for the web API.
class TcpDataMgtApi : public QObject {
    Q_OBJECT
  public:
    static constexpr int kProgressPollDelayMs = 50;
    // Polls waiting for their pause, per connection; a progress report beyond gets none.
    static constexpr int kMaxPendingPolls = 4;
    static constexpr int kLogWindowMs = 5000;

    // The handler counts into metrics, tells activity of each event and stores the terminals'
    // files through files; all three outlive it.
    TcpDataMgtApi(const struLocalParam& param, TerminalMetrics& metrics, DeviceActivity& activity,
                  FileOperation& files, QObject* parent = nullptr);
    // The same over a device table of the caller's, so tests can make it fail.
    TcpDataMgtApi(const struLocalParam& param, TerminalMetrics& metrics, DeviceActivity& activity,
                  FileOperation& files, std::unique_ptr<Tab_DeviceInfo> deviceTable,
                  QObject* parent = nullptr);
    ~TcpDataMgtApi() override;

    // Told what each report makes of its connection (by the device server, which owns the
    // slots); none: every connection may go on.
    void setSlotHook(SlotPriority::Hook hook) { m_slotHook = std::move(hook); }

    int CompareVersion(const QString& packageVersion, const QString& deviceVersion) const;
    QString GetPackageUrl(const QString& packagePath) const;

    // The upgrade answer with the package's download address; the download port finds the
    // file by that address in the package table.
    void OfferUpgrade(const QString& packagePath, qintptr socketId, const SocketPacket& header);
    void GetUpgradeFlag(qintptr socketId, const SocketPacket& header, quint32 flag,
                        const QString& url);
    void SendConfigCmd(qintptr socketId, const SocketPacket& header, const QString& command);
    void SendGetFile(qintptr socketId, const SocketPacket& header, quint32 fileType);
    void SendProgressPoll(qintptr socketId, const SocketPacket& header);
    void StorePendingPaths(qintptr socketId, const DevFilePaths& paths);

    // What this handler holds of a connection, dropped without a word to the tables: for a
    // server that goes away with its connections still open.
    void forgetConnection(qintptr socketId);

  signals:
    // One whole packet for the connection with that socket ID.
    void sendSocketData(QByteArray data, qintptr socketId);
    // The connection with that socket ID is to be closed: it is not the terminal it said it was.
    void closeConnection(qintptr socketId);

  public slots:
    // A new connection; its address goes with what is logged about it.
    void sockConnect(qintptr socketId, QString address, quint16 port);
    void readDataSlot(qintptr socketId, QByteArray data);
    void sockDisConnect(qintptr socketId, QString ip, quint16 port);

  public:
    // The packets of a batch about to be handled in one transaction, in order: the rows of the
    // terminals whose report is the first of their packets in it are read in one statement (on
    // PostgreSQL each statement is a round trip). An earlier packet of the same terminal may
    // change its row, so a report after one reads the row itself.
    void prefetch(const QVector<QPair<qintptr, QByteArray>>& packets);

  private:
    // The prefetched lookup of devSN's report in this batch, taken once; false when there is
    // none to trust (then the report reads its row itself).
    bool takePrefetched(qintptr socketId, const QString& devSN, struDeviceInfo& device,
                        bool& outcomePending, Tab_DeviceInfo::RowState& lookup);
    void handleDeviceReport(qintptr socketId, const SocketPacket& packet);
    // A report that could not be looked up while the database is away: what it changes of a
    // known terminal is written when the database is back.
    void keepReport(qintptr socketId, const DeviceReport& parsed, const QString& devId);
    void handleUpgradeProgress(qintptr socketId, const SocketPacket& packet);
    void handleCmdResult(qintptr socketId, const SocketPacket& packet);
    void handleDeviceFile(qintptr socketId, const SocketPacket& packet);

    // The package file still as uploaded (it exists with the stored size: a stat, not a hash)
    // and an address that fits the answer; logs why not.
    bool packageServable(const struPackageInfo& package) const;
    // The package of a device type and whether it can be served, read once per batch of
    // packets: a batch's reports see the rows of one moment, as one transaction.
    struct TypePackage {
        bool found = false;
        bool servable = false;
        struPackageInfo package;
    };
    const TypePackage& packageOfType(const QString& devType);
    void sendPendingTasks(qintptr socketId, const SocketPacket& header,
                          const struDeviceInfo& device);
    void sendAnswer(qintptr socketId, const SocketPacket& received, Command answer,
                    const QByteArray& body);
    // Applies change to this connection's online record; updated, when given, receives the
    // changed copy. False when the connection has none.
    bool changeOnlineRecord(qintptr socketId, const std::function<void(struDeviceInfo&)>& change,
                            struDeviceInfo* updated = nullptr);
    // A connection whose packets beyond its report are not accepted.
    bool refused(qintptr socketId) const;
    // Tells the slot hook; false when the connection is being closed for it.
    bool mayGoOn(qintptr socketId, SlotPriority::Standing standing);
    // A serial number first seen may become a device on this connection: the server keeps it
    // and the registration limits allow. Otherwise the connection is closed without an answer.
    bool mayRegister(qintptr socketId, TerminalLink& link);
    QString peerOf(qintptr socketId) const;
    // Hands a framed answer to the link; the first one while a report is handled times it.
    void emitAnswer(const QByteArray& packet, qintptr socketId);
    // Counts one event of a kind logged once per window, and has the line written when it ends.
    void noteBurst(BurstLog& log);

    TerminalMetrics& m_metrics;
    // When the report being handled was taken; main thread only.
    std::optional<std::chrono::steady_clock::time_point> m_reportTaken;
    DeviceActivity& m_activity;
    FileOperation& m_files;
    std::unique_ptr<SocketPacketHandler> m_packetHandler;
    // Shared with the writes that wait for the database.
    std::shared_ptr<Tab_DeviceInfo> m_deviceTable;
    std::unique_ptr<Tab_Package> m_packageTable;
    struLocalParam m_param;  // read once at construction
    SlotPriority::Hook m_slotHook;
    RegistrationLimiter m_registrations;

    // prefetch()'s rows (none: no row) of the batch numbered m_prefetchedBatch, each for the
    // report of one connection; main thread only.
    struct Prefetched {
        qintptr socketId;
        std::optional<Tab_DeviceInfo::Found> row;
    };
    QHash<QString, Prefetched> m_prefetched;
    quint64 m_prefetchedBatch = 0;
    // packageOfType's answers in the batch numbered m_packagesBatch; main thread only.
    QHash<QString, TypePackage> m_packagesOfBatch;
    quint64 m_packagesBatch = 0;

    // Progress polls waiting for their pause, per socket ID; main thread only.
    QMultiHash<qintptr, QTimer*> m_pollTimers;

    BurstLog m_unrequestedFiles;
    QTimer* m_burstTimer = nullptr;  // ends the window of the burst logs

    // Per socket ID, what is known of the connection beyond its record; main thread only.
    QHash<qintptr, TerminalLink> m_links;

    // Per socket ID, the device record of the terminal that reported on it; main thread only.
    QMap<qintptr, struDeviceInfo> m_onlineDevices;
    // The socket of each serial number in m_onlineDevices: a report finds a stale entry of its
    // terminal without a search of every connection.
    QHash<QString, qintptr> m_onlineSocketBySN;

    // Guards m_pendingPaths.
    std::mutex m_pendingMutex;
    QMap<qintptr, DevFilePaths> m_pendingPaths;
};
