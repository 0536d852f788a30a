#include "device/TcpDataMgtApi.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QThread>
#include <QTimer>

#include "core/DataLog.h"
#include "core/Logger.h"
#include "db/PinnedTransaction.h"
#include "db/ReportRows.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_Package.h"
#include "device/DeviceActivity.h"
#include "device/DeviceMetaTypes.h"
#include "device/ReportRecord.h"
#include "device/ReportWriteQueue.h"
#include "device/TerminalMetrics.h"
#include "files/FileOperation.h"
#include "files/PackageFileCheck.h"
#include "files/PathGuard.h"
#include "model/struDeviceEvent.h"
#include "upgrade/UpgradeDecision.h"
#include "upgrade/UpgradeRules.h"
#include "upgrade/rollout/RolloutControl.h"

namespace {
std::shared_ptr<spdlog::logger> logger() {
    return getLogger("TcpDataMgtApi");
}

std::string hex(const QByteArray& bytes) {
    return bytes.toHex().toStdString();
}

// A packet's bytes in hex cost more log than the packet: at the debug level only (off by
// default), and not even made into text below it, so a flood does not turn into a log flood.
void logBytes(const char* op, const char* what, const QByteArray& bytes) {
    const auto log = logger();
    if (log->should_log(spdlog::level::debug))
        log->debug("{}, {}:{} {}", op, what, hex(bytes), bytes.size());
}

// The last report time a report writes to its terminal's row.
qint32 reportTime() {
    return static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
}

// A report kept while the database was away, written once it is back: what the report changes
// of a known terminal, unless the serial number is pinned to another device ID.
bool writeKeptReport(Tab_DeviceInfo& table, const DeviceReport& parsed, const QString& devId,
                     qint32 at) {
    struDeviceInfo device;
    switch (table.getDeviceBySN(device, parsed.devSN)) {
        case Tab_DeviceInfo::RowState::Failed:
            return false;
        case Tab_DeviceInfo::RowState::Missing:
            return true;
        case Tab_DeviceInfo::RowState::Found:
            break;
    }
    const bool pinned = device.IdentityPinned && !device.devId.isEmpty();
    if (pinned && device.devId != devId) return true;
    const bool pin = !pinned && !devId.isEmpty();
    if (pin) {
        device.devId = devId;
        device.IdentityPinned = true;
    }
    applyReport(parsed, device);
    device.LastReportTime = at;
    return table.refreshFromReport(device, pin);
}

QString devIdText(const SocketPacket& packet) {
    return QString::fromUtf8(SocketPacketHandler::FieldBytes(packet.devId, 32));
}

// The pending-file flag of a file type (1 to 4), nullptr for any other type.
bool struDeviceInfo::*fileFlag(quint32 type) {
    switch (type) {
        case 1:
            return &struDeviceInfo::GetLogFile;
        case 2:
            return &struDeviceInfo::GetIndexFile;
        case 3:
            return &struDeviceInfo::GetPrintFile;
        case 4:
            return &struDeviceInfo::GetRunInfoFile;
        default:
            return nullptr;
    }
}

// The first file type in the order 1..4 still requested, 0 when none is.
quint32 firstPendingFileType(const struDeviceInfo& device) {
    if (device.GetLogFile) return 1;
    if (device.GetIndexFile) return 2;
    if (device.GetPrintFile) return 3;
    if (device.GetRunInfoFile) return 4;
    return 0;
}

}  // namespace

TcpDataMgtApi::TcpDataMgtApi(const struLocalParam& param, TerminalMetrics& metrics,
                             DeviceActivity& activity, FileOperation& files, QObject* parent)
    : TcpDataMgtApi(param, metrics, activity, files, std::make_unique<Tab_DeviceInfo>(), parent) {}

TcpDataMgtApi::TcpDataMgtApi(const struLocalParam& param, TerminalMetrics& metrics,
                             DeviceActivity& activity, FileOperation& files,
                             std::unique_ptr<Tab_DeviceInfo> deviceTable, QObject* parent)
    : QObject(parent),
      m_metrics(metrics),
      m_activity(activity),
      m_files(files),
      m_packetHandler(std::make_unique<SocketPacketHandler>()),
      m_deviceTable(std::move(deviceTable)),
      m_packageTable(std::make_unique<Tab_Package>()),
      m_param(param),
      m_registrations(param.RegistrationsPerMinutePerAddress, param.RegistrationsPerMinute),
      m_unrequestedFiles(QStringLiteral("TcpDataMgtApi::readDataSlot, %1 device file chunks not "
                                        "requested on their connection, dropped (%2 s window)"),
                         kLogWindowMs),
      m_burstTimer(new QTimer(this)) {
    registerDeviceLinkMetaTypes();
    m_burstTimer->setSingleShot(true);
    connect(m_burstTimer, &QTimer::timeout, this,
            [this] { m_unrequestedFiles.flush(QDateTime::currentMSecsSinceEpoch(), true); });
}

TcpDataMgtApi::~TcpDataMgtApi() {
    m_unrequestedFiles.flush(0, true);
}

void TcpDataMgtApi::noteBurst(BurstLog& log) {
    log.add(QDateTime::currentMSecsSinceEpoch());
    if (!m_burstTimer->isActive()) m_burstTimer->start(kLogWindowMs);
}

int TcpDataMgtApi::CompareVersion(const QString& packageVersion,
                                  const QString& deviceVersion) const {
    return ::CompareVersion(packageVersion, deviceVersion);
}

QString TcpDataMgtApi::GetPackageUrl(const QString& packagePath) const {
    return ::GetPackageUrl(packagePath, m_param.PackageDir, m_param.NetIP,
                           m_param.downloadPortForTerminals());
}

void TcpDataMgtApi::readDataSlot(qintptr socketId, QByteArray data) {
    if (!m_packetHandler) {
        logger()->info("{}, 数据处理对象为空!", "TcpDataMgtApi::readDataSlot");
        return;
    }
    if (!m_deviceTable) {
        logger()->info("{}, 设备表操作对象为空!", "TcpDataMgtApi::readDataSlot");
        return;
    }
    if (!m_packageTable) {
        logger()->info("{}, 升级包表操作对象为空!", "TcpDataMgtApi::readDataSlot");
        return;
    }
    if (m_links.value(socketId).closing) return;
    SocketPacket packet;
    if (m_packetHandler->DataParse(data, packet) != 0) {
        m_metrics.refused(TerminalMetrics::Refusal::BadCheckCode);
        writeDataLog(QStringLiteral("TcpDataMgtApi::readDataSlot DataParse Failed"), data);
        return;
    }
    m_metrics.received(packet.cmd);
    switch (static_cast<Command>(packet.cmd)) {
        case Command::Report:
        case Command::ReportEx:
            m_reportTaken = std::chrono::steady_clock::now();
            handleDeviceReport(socketId, packet);
            m_reportTaken.reset();
            break;
        case Command::Progress:
            handleUpgradeProgress(socketId, packet);
            break;
        case Command::Command:
            handleCmdResult(socketId, packet);
            break;
        case Command::File:
            handleDeviceFile(socketId, packet);
            break;
        default:
            break;
    }
}

void TcpDataMgtApi::handleDeviceReport(qintptr socketId, const SocketPacket& packet) {
    logBytes("TcpDataMgtApi::readDataSlot", "device Report(0x0001)", packet.data);
    DeviceReport parsed;
    if (m_packetHandler->ParseDeviceReport(packet.data, packet.cmd == code(Command::ReportEx),
                                           parsed) != 0)
        return m_metrics.refused(TerminalMetrics::Refusal::BadBody);
    struDeviceInfo report;
    applyReport(parsed, report);
    if (report.devSN.isEmpty()) {
        m_metrics.refused(TerminalMetrics::Refusal::NoSerial);
        logger()->info("{}, device serial number is empty!", "TcpDataMgtApi::readDataSlot");
        return;
    }

    const QString devId = devIdText(packet);
    TerminalLink& link = m_links[socketId];
    if (!link.devSN.isEmpty() && link.devSN != report.devSN) {
        // One connection is one terminal: fresh serial numbers on it would each become a device.
        logger()->warn("{}, serial number changed from {} to {} on the connection of {}: closed",
                       "TcpDataMgtApi::readDataSlot", link.devSN.toStdString(),
                       report.devSN.toStdString(), peerOf(socketId).toStdString());
        link.closing = true;
        m_metrics.refused(TerminalMetrics::Refusal::SerialChanged);
        emit closeConnection(socketId);
        return;
    }
    link.devSN = report.devSN;

    ReportWriteQueue& writes = m_activity.writes();
    struDeviceInfo device;
    bool outcomePending = true;
    Tab_DeviceInfo::RowState lookup = Tab_DeviceInfo::RowState::Failed;
    if (!takePrefetched(socketId, report.devSN, device, outcomePending, lookup)) {
        // What it reported while the database was away goes first: the lookup sees it.
        writes.flush(report.devSN);
        lookup = m_deviceTable->getDeviceBySN(device, report.devSN, &outcomePending);
    }
    if (lookup == Tab_DeviceInfo::RowState::Failed) {
        // Taken for a new terminal, it would be registered a second time.
        logger()->warn("{}, device lookup failed, answered as unknown: {}",
                       "TcpDataMgtApi::readDataSlot", report.devSN.toStdString());
        keepReport(socketId, parsed, devId);
        GetUpgradeFlag(socketId, packet, 0, QString());
        return;
    }
    const bool registered = lookup == Tab_DeviceInfo::RowState::Found;
    // Noted after the connection is: the timeline reads connected, then what the report did.
    QList<QPair<const char*, QString>> events;
    ReportRows rows;
    if (!registered) {
        logger()->info("{}, device is not registered!", "TcpDataMgtApi::readDataSlot");
        if (!mayRegister(socketId, link)) return;
        link.unproven = true;
        report.devId = devId;
        report.LastReportTime = reportTime();
        writes.submit(report.devSN, "Tab_DeviceInfo::insertDevice",
                      [table = m_deviceTable, report] { return table->insertDevice(report); });
        events << qMakePair(kEventRegistered, reportChanges(struDeviceInfo(), report));
        logger()->critical("{}, 数据库不存在设备: {}信息", "TcpDataMgtApi::readDataSlot",
                           report.devSN.toStdString());
        // The new row is this report: later progress and results must find it by devSN.
        device = report;
    } else {
        const bool pinned = device.IdentityPinned && !device.devId.isEmpty();
        if (pinned && device.devId != devId) {
            // One line and one record per connection: its later reports are refused the same way.
            if (!link.impostor) {
                logger()->warn(
                    "{}, serial number {} is pinned to device ID {}; refused device ID {} from {}",
                    "TcpDataMgtApi::readDataSlot", report.devSN.toStdString(),
                    device.devId.toStdString(), devId.toStdString(),
                    peerOf(socketId).toStdString());
                m_activity.identityConflict(socketId, report.devSN, devId, link.peer);
            }
            link.impostor = true;
            // Counted and recorded apart: the terminal's own last decision is not the impostor's.
            m_metrics.refused(TerminalMetrics::Refusal::Impostor);
            if (mayGoOn(socketId, SlotPriority::Standing::Impostor))
                GetUpgradeFlag(socketId, packet, 0, QString());
            return;
        }
        link.impostor = false;
        mayGoOn(socketId, SlotPriority::Standing::Known);
        const bool pin = !pinned && !devId.isEmpty();
        if (pin) {
            device.devId = devId;
            device.IdentityPinned = true;
            events << qMakePair(kEventPinned, devId);
        }
        const QString changes = reportChanges(device, report);
        if (!changes.isEmpty()) events << qMakePair(kEventReported, changes);
        applyReport(parsed, device);
        device.LastReportTime = reportTime();
        rows.device = device;
        rows.pin = pin;
    }

    // An entry of an earlier connection of the same terminal is stale. Matching on the
    // device ID too would let a new serial number reported with another terminal's ID push
    // that terminal out; a connection that changes its serial number is closed instead.
    const auto earlier = m_onlineSocketBySN.constFind(report.devSN);
    if (earlier != m_onlineSocketBySN.constEnd() && earlier.value() != socketId)
        m_onlineDevices.remove(earlier.value());
    const auto mine = m_onlineDevices.constFind(socketId);
    if (mine != m_onlineDevices.constEnd() && mine->devSN != report.devSN)
        m_onlineSocketBySN.remove(mine->devSN);
    m_onlineDevices.insert(socketId, device);
    m_onlineSocketBySN.insert(report.devSN, socketId);
    m_activity.reported(socketId, report, link.peer, outcomePending, &rows);
    // Behind an outcome to judge, written apart after it, as the connection's event then is.
    ReportRows* const with = outcomePending ? nullptr : &rows;
    for (const auto& event : events) m_activity.note(report.devSN, event.first, event.second, with);

    const TypePackage& ofType = packageOfType(report.devType);
    const struPackageInfo package = ofType.package;
    DecisionFacts facts;
    facts.registered = registered;
    facts.stored = &device;
    facts.report = &report;
    facts.hasPackage = ofType.found;
    facts.package = &package;
    facts.packageServable = ofType.servable;
    facts.manualMode = m_param.ManualMode == 1;
    const int retryLimit = static_cast<int>(m_param.UpgradeRetryLimit);
    const UpgradeDecision decision = decideUpgrade(facts, [&package, &report, retryLimit] {
        return RolloutControl::verdict(package, report.devSN, retryLimit);
    });
    m_activity.decided(report, facts.hasPackage, package, decision, rows);
    switch (decision.answer) {
        case UpgradeDecision::Answer::Upgrade:
            OfferUpgrade(package.packagePath, socketId, packet);
            return;
        case UpgradeDecision::Answer::NoUpgrade:
            GetUpgradeFlag(socketId, packet, 0, QString());
            return;
        case UpgradeDecision::Answer::PendingTasks:
            sendPendingTasks(socketId, packet, registered ? device : struDeviceInfo());
            return;
    }
}

void TcpDataMgtApi::keepReport(qintptr socketId, const DeviceReport& parsed, const QString& devId) {
    if (!m_activity.writes().away()) return;
    struDeviceInfo report;
    applyReport(parsed, report);
    // Checked when written, as a report is: an impostor's report changes nothing, and a serial
    // number not known yet becomes a device at its next report.
    m_activity.writes().submit(report.devSN, "TcpDataMgtApi::keepReport",
                               [table = m_deviceTable, parsed, devId, at = reportTime()] {
                                   return writeKeptReport(*table, parsed, devId, at);
                               });
    // Its presence, and the outcome of an upgrade it completed, wait behind it.
    m_activity.reported(socketId, report, m_links.value(socketId).peer);
}

void TcpDataMgtApi::prefetch(const QVector<QPair<qintptr, QByteArray>>& packets) {
    m_prefetched.clear();
    const PinnedTransaction* batch = PinnedTransaction::current();
    m_prefetchedBatch = batch ? batch->serial() : 0;
    if (!batch || packets.size() < 2 || !m_packetHandler) return;
    QSet<QString> seen;
    QHash<QString, qintptr> wanted;  // by whom
    for (const auto& entry : packets) {
        const auto link = m_links.constFind(entry.first);
        const QString linked = link != m_links.constEnd() ? link->devSN : QString();
        SocketPacket packet;
        DeviceReport parsed;
        const bool report =
            m_packetHandler->DataParse(entry.second, packet) == 0 &&
            (packet.cmd == code(Command::Report) || packet.cmd == code(Command::ReportEx)) &&
            m_packetHandler->ParseDeviceReport(packet.data, packet.cmd == code(Command::ReportEx),
                                               parsed) == 0;
        struDeviceInfo reported;
        if (report) applyReport(parsed, reported);
        const QString& devSN = reported.devSN;
        if (!report || devSN.isEmpty() || (!linked.isEmpty() && linked != devSN)) {
            if (!linked.isEmpty()) seen.insert(linked);
            if (!devSN.isEmpty()) seen.insert(devSN);
            continue;
        }
        if (!seen.contains(devSN)) wanted.insert(devSN, entry.first);
        seen.insert(devSN);
    }
    if (wanted.isEmpty()) return;
    QHash<QString, Tab_DeviceInfo::Found> found;
    if (!m_deviceTable->getDevicesBySN(wanted.keys(), found)) return;
    for (auto it = wanted.constBegin(); it != wanted.constEnd(); ++it) {
        const auto row = found.constFind(it.key());
        m_prefetched.insert(
            it.key(), {it.value(), row == found.constEnd() ? std::optional<Tab_DeviceInfo::Found>()
                                                           : std::optional(row.value())});
    }
}

bool TcpDataMgtApi::takePrefetched(qintptr socketId, const QString& devSN, struDeviceInfo& device,
                                   bool& outcomePending, Tab_DeviceInfo::RowState& lookup) {
    const PinnedTransaction* batch = PinnedTransaction::current();
    if (m_prefetched.isEmpty() || !batch || batch->serial() != m_prefetchedBatch) return false;
    auto entry = m_prefetched.find(devSN);
    if (entry == m_prefetched.end() || entry->socketId != socketId) return false;
    const std::optional<Tab_DeviceInfo::Found> row = std::move(entry->row);
    m_prefetched.erase(entry);
    // Writes waiting from an outage change the row: they go first, and the row is read after.
    if (m_activity.writes().waiting(devSN)) return false;
    lookup = row ? Tab_DeviceInfo::RowState::Found : Tab_DeviceInfo::RowState::Missing;
    if (row) {
        device = row->device;
        outcomePending = row->outcomePending;
    }
    return true;
}

const TcpDataMgtApi::TypePackage& TcpDataMgtApi::packageOfType(const QString& devType) {
    const PinnedTransaction* batch = PinnedTransaction::current();
    const quint64 serial = batch ? batch->serial() : 0;
    if (serial == 0 || serial != m_packagesBatch) {
        m_packagesOfBatch.clear();
        m_packagesBatch = serial;
    }
    auto known = m_packagesOfBatch.find(devType);
    if (known != m_packagesOfBatch.end()) return known.value();
    TypePackage entry;
    entry.found = m_packageTable->getPackageByType(devType, entry.package);
    entry.servable =
        entry.found && !entry.package.packagePath.isEmpty() && packageServable(entry.package);
    return m_packagesOfBatch.insert(devType, entry).value();
}

bool TcpDataMgtApi::packageServable(const struPackageInfo& package) const {
    const char* const op = "TcpDataMgtApi::readDataSlot";
    qint64 size = 0;
    switch (PackageFileCheck::of(package, &size)) {
        case PackageFileCheck::State::Missing:
            logger()->info("{}, package file missing: {}", op, package.packagePath.toStdString());
            return false;
        case PackageFileCheck::State::Changed:
            logger()->info("{}, package file changed on disk: {} has {} bytes, {} uploaded", op,
                           package.packagePath.toStdString(), size, package.size);
            return false;
        case PackageFileCheck::State::Intact:
            break;
    }
    if (!SocketPacketHandler::FitsUrlField(PackageUrl(package.packagePath, m_param.PackageDir,
                                                      m_param.NetIP,
                                                      m_param.downloadPortForTerminals()))) {
        logger()->info("{}, package address too long for the answer: {}", op,
                       package.packagePath.toStdString());
        return false;
    }
    return true;
}

// `device` has an empty devSN for a terminal that was not registered at this report.
void TcpDataMgtApi::sendPendingTasks(qintptr socketId, const SocketPacket& header,
                                     const struDeviceInfo& device) {
    if (device.devSN.isEmpty()) {
        GetUpgradeFlag(socketId, header, 0, QString());
        return;
    }
    if (!device.ConfigCmd.isEmpty()) SendConfigCmd(socketId, header, device.ConfigCmd);

    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmm"));
    const QString sep = QDir::separator();
    const QString tail = sep + safePathComponent(device.devSN) + sep + time + sep;
    DevFilePaths paths;
    paths.log = m_param.DevLogDir + tail;
    paths.index = m_param.DevIndexDir + tail;
    paths.print = m_param.PrintDir + tail;
    paths.runInfo = m_param.RunInfoDir + tail;
    StorePendingPaths(socketId, paths);

    const quint32 type = firstPendingFileType(device);
    if (type != 0)
        SendGetFile(socketId, header, type);
    else
        GetUpgradeFlag(socketId, header, 0, QString());
}

void TcpDataMgtApi::OfferUpgrade(const QString& packagePath, qintptr socketId,
                                 const SocketPacket& header) {
    // Offered again on the same connection, it is the same address: counted and logged once, so
    // a terminal that reports without end does not write a line per report.
    const QString url = m_links.value(socketId).upgradeOffered
                            ? PackageUrl(packagePath, m_param.PackageDir, m_param.NetIP,
                                         m_param.downloadPortForTerminals())
                            : GetPackageUrl(packagePath);
    if (logger()->should_log(spdlog::level::debug))
        logger()->debug("{}, upgrade offered, url:{}, file path:{}", "TcpDataMgtApi::OfferUpgrade",
                        url.toStdString(), QDir::fromNativeSeparators(packagePath).toStdString());
    GetUpgradeFlag(socketId, header, 1, url);
    m_links[socketId].upgradeOffered = true;
    SendProgressPoll(socketId, header);
    m_activity.upgradeStarted(socketId, url);
}

void TcpDataMgtApi::GetUpgradeFlag(qintptr socketId, const SocketPacket& header, quint32 flag,
                                   const QString& url) {
    UpgradeFlagData flagData;
    flagData.flag = flag;
    flagData.url = url;
    QByteArray body;
    m_packetHandler->PackUpgradeFlag(flagData, body);
    logBytes("TcpDataMgtApi::GetUpgradeFlag", "GetUpgradeFlag:outData", body);
    const SocketPacket answer = SocketPacketHandler::AnswerHeader(
        header, Command::UpgradeAnswer, static_cast<quint16>(body.size()));
    QByteArray packet;
    if (m_packetHandler->DataPack(answer, body, packet) != 0) return;
    logBytes("TcpDataMgtApi::GetUpgradeFlag", "GetAllPackage:allData", packet);
    m_metrics.answered(Command::UpgradeAnswer, flag != 0);
    emitAnswer(packet, socketId);
}

void TcpDataMgtApi::SendConfigCmd(qintptr socketId, const SocketPacket& header,
                                  const QString& command) {
    QByteArray body;
    m_packetHandler->PackConfigCmd(command, body);
    // Only a result to the command sent here may clear it.
    TerminalLink& link = m_links[socketId];
    if (link.sentCommand != command) m_activity.note(link.devSN, kEventCommandSent, command);
    link.sentCommand = command;
    sendAnswer(socketId, header, Command::Command, body);
}

void TcpDataMgtApi::SendGetFile(qintptr socketId, const SocketPacket& header, quint32 fileType) {
    // Chunks are stored only for a type requested on this connection, up to the quota.
    const qint64 quota = static_cast<qint64>(m_param.DeviceFileQuotaMiB) * 1024 * 1024;
    TerminalLink& link = m_links[socketId];
    if (!link.transfers.contains(fileType))
        m_activity.note(link.devSN, kEventFileRequested, QString::number(fileType));
    link.transfers.insert(fileType, DeviceFileTransfer(quota));
    QByteArray body;
    m_packetHandler->PackGetFile(fileType, body);
    sendAnswer(socketId, header, Command::FileRequest, body);
}

void TcpDataMgtApi::SendProgressPoll(qintptr socketId, const SocketPacket& header) {
    QByteArray body;
    m_packetHandler->PackEmpty(body);
    sendAnswer(socketId, header, Command::ProgressPoll, body);
}

void TcpDataMgtApi::sendAnswer(qintptr socketId, const SocketPacket& received, Command answer,
                               const QByteArray& body) {
    // A body beyond the packet limit (an overlong command text) cannot be framed.
    if (body.size() > SocketPacketHandler::kMaxDataLen) {
        logger()->info("{}, answer body too long: {}", "TcpDataMgtApi::sendAnswer", body.size());
        return;
    }
    const SocketPacket header =
        SocketPacketHandler::AnswerHeader(received, answer, static_cast<quint16>(body.size()));
    QByteArray packet;
    if (m_packetHandler->DataPack(header, body, packet) != 0) return;
    m_metrics.answered(answer);
    emitAnswer(packet, socketId);
}

void TcpDataMgtApi::emitAnswer(const QByteArray& packet, qintptr socketId) {
    if (m_reportTaken) {
        m_metrics.reportAnswered(std::chrono::steady_clock::now() - *m_reportTaken);
        m_reportTaken.reset();
    }
    emit sendSocketData(packet, socketId);
}

void TcpDataMgtApi::StorePendingPaths(qintptr socketId, const DevFilePaths& paths) {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pendingPaths.insert(socketId, paths);
}

bool TcpDataMgtApi::changeOnlineRecord(qintptr socketId,
                                       const std::function<void(struDeviceInfo&)>& change,
                                       struDeviceInfo* updated) {
    auto it = m_onlineDevices.find(socketId);
    if (it == m_onlineDevices.end()) return false;
    change(*it);
    if (updated) *updated = *it;
    return true;
}

bool TcpDataMgtApi::mayGoOn(qintptr socketId, SlotPriority::Standing standing) {
    if (!m_slotHook || m_slotHook(socketId, standing)) return true;
    m_links[socketId].closing = true;
    emit closeConnection(socketId);
    return false;
}

bool TcpDataMgtApi::mayRegister(qintptr socketId, TerminalLink& link) {
    // The server first: a connection it refuses takes nothing from the registration limits.
    if (!mayGoOn(socketId, SlotPriority::Standing::NewSerial)) return false;
    if (m_registrations.admit(link.address)) return true;
    m_metrics.refused(TerminalMetrics::Refusal::RegistrationLimited);
    link.closing = true;
    emit closeConnection(socketId);
    return false;
}

bool TcpDataMgtApi::refused(qintptr socketId) const {
    const auto link = m_links.constFind(socketId);
    return link != m_links.constEnd() && (link->impostor || link->closing);
}

QString TcpDataMgtApi::peerOf(qintptr socketId) const {
    const QString peer = m_links.value(socketId).peer;
    return peer.isEmpty() ? QStringLiteral("an unknown peer") : peer;
}

void TcpDataMgtApi::handleUpgradeProgress(qintptr socketId, const SocketPacket& packet) {
    int progress = 0;
    if (m_packetHandler->ParseUpgradeProgress(packet.data, progress) != 0)
        return m_metrics.refused(TerminalMetrics::Refusal::BadBody);
    logBytes("TcpDataMgtApi::readDataSlot", "Upgrade Progress results(0x0002)", packet.data);
    if (refused(socketId)) return m_metrics.refused(TerminalMetrics::Refusal::Impostor);
    m_activity.progressed(socketId, progress);
    const auto link = m_links.find(socketId);
    if (link != m_links.end() && link->unproven && link->upgradeOffered) {
        link->unproven = false;
        mayGoOn(socketId, SlotPriority::Standing::Proven);
    }

    if (progress == 100) {
        const auto now = static_cast<qint32>(QDateTime::currentDateTime().toSecsSinceEpoch());
        const auto online = m_onlineDevices.constFind(socketId);
        if (online != m_onlineDevices.constEnd())
            m_activity.writes().submit(online->devSN, "Tab_DeviceInfo::completeUpgrade",
                                       [table = m_deviceTable, devSN = online->devSN, now] {
                                           return table->completeUpgrade(devSN, now);
                                       });
        return;
    }

    // The pause paces a terminal that reports rapidly, without holding up the others.
    // Each poll answers one report: a terminal that sends reports faster than it takes polls
    // would otherwise queue timers without end.
    if (m_pollTimers.count(socketId) >= kMaxPendingPolls) return;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    const SocketPacket header = packet;
    connect(timer, &QTimer::timeout, this, [this, timer, socketId, header] {
        m_pollTimers.remove(socketId, timer);
        timer->deleteLater();
        SendProgressPoll(socketId, header);
    });
    m_pollTimers.insert(socketId, timer);
    timer->start(kProgressPollDelayMs);
}

void TcpDataMgtApi::handleCmdResult(qintptr socketId, const SocketPacket& packet) {
    CmdResultData result;
    m_packetHandler->ParseCmdResult(packet.data, result);
    logBytes("TcpDataMgtApi::readDataSlot", "telnet Parameter configuration results(0x0003)",
             packet.data);
    auto link = m_links.find(socketId);
    const bool awaited = link != m_links.end() && !link->sentCommand.isEmpty();
    // Only the result of a command sent here is worth a line: results nobody asked for are not.
    if (awaited) {
        logger()->info("{}, cmd exec result(0x0003):{}", "TcpDataMgtApi::readDataSlot",
                       result.text.toStdString());
        if (!refused(socketId))
            m_activity.note(link->devSN, kEventCommandResult,
                            QStringLiteral("%1 %2").arg(result.resultCode).arg(result.text));
    }
    if (result.resultCode != 0) return;  // stays pending: sent again at the next report
    if (refused(socketId)) return m_metrics.refused(TerminalMetrics::Refusal::Impostor);
    if (!awaited) return;
    const QString sent = link->sentCommand;
    link->sentCommand.clear();

    struDeviceInfo device;
    if (!changeOnlineRecord(
            socketId, [](struDeviceInfo&) {}, &device))
        return;
    // A command the operator set meanwhile is not the one confirmed: it stays.
    if (!m_deviceTable->clearConfigCmd(device.devSN, sent)) return;
    changeOnlineRecord(socketId, [&sent](struDeviceInfo& d) {
        if (d.ConfigCmd == sent) d.ConfigCmd.clear();
    });
}

void TcpDataMgtApi::handleDeviceFile(qintptr socketId, const SocketPacket& packet) {
    logBytes("TcpDataMgtApi::readDataSlot", "Get Device File results(0x0004)",
             packet.data.left(64));
    DeviceFileData chunk;
    if (m_packetHandler->ParseDeviceFile(packet.data, chunk) != 0)
        return m_metrics.refused(TerminalMetrics::Refusal::BadBody);

    auto link = m_links.find(socketId);
    const bool requested =
        link != m_links.end() && !link->impostor && link->transfers.contains(chunk.type);
    if (!requested) {
        m_metrics.refused(TerminalMetrics::Refusal::UnrequestedFile);
        noteBurst(m_unrequestedFiles);
        return;
    }
    DeviceFileTransfer& transfer = link->transfers[chunk.type];
    DevFilePaths paths;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        paths = m_pendingPaths.value(socketId);
    }
    const QString directory = paths.forType(chunk.type);
    bool firstRefusal = false;
    bool written = false;
    if (transfer.admit(chunk, firstRefusal)) {
        written = !directory.isEmpty() &&
                  m_files.WriteDevUploadFile(directory + safePathComponent(chunk.fileName),
                                             chunk.data, transfer.startsFile());
    } else if (firstRefusal) {
        m_metrics.refused(TerminalMetrics::Refusal::OverQuota);
        logger()->warn("{}, device file over its quota of {} MiB, refused: type {} {} from {}",
                       "TcpDataMgtApi::readDataSlot", m_param.DeviceFileQuotaMiB, chunk.type,
                       chunk.fileName.toStdString(), peerOf(socketId).toStdString());
    }
    const DeviceFileTransfer::Verdict verdict = transfer.record(chunk, written);
    if (verdict == DeviceFileTransfer::Verdict::More) return;
    link->transfers.remove(chunk.type);
    if (verdict == DeviceFileTransfer::Verdict::Broken) {
        logger()->info("{}, device file not stored whole, its request stays: type {} {}",
                       "TcpDataMgtApi::readDataSlot", chunk.type, chunk.fileName.toStdString());
        return;
    }

    m_activity.note(link->devSN, kEventFileArrived,
                    QStringLiteral("%1 %2").arg(chunk.type).arg(chunk.fileName));
    bool struDeviceInfo::*flag = fileFlag(chunk.type);
    struDeviceInfo device;
    if (!changeOnlineRecord(
            socketId, [flag](struDeviceInfo& d) { d.*flag = false; }, &device))
        return;
    m_deviceTable->clearFileRequest(device.devSN, flag);
    const quint32 next = firstPendingFileType(device);
    if (next != 0) SendGetFile(socketId, packet, next);
}

void TcpDataMgtApi::sockConnect(qintptr socketId, QString address, quint16 port) {
    TerminalLink link;
    link.peer = QStringLiteral("%1:%2").arg(address).arg(port);
    link.address = address;
    m_links.insert(socketId, link);
}

void TcpDataMgtApi::sockDisConnect(qintptr socketId, QString ip, quint16 port) {
    Q_UNUSED(ip);
    Q_UNUSED(port);
    qDebug() << "TcpDataMgtApi::sockDisConnect thread is:" << QThread::currentThreadId();
    forgetConnection(socketId);
    m_activity.disconnected(socketId);
}

void TcpDataMgtApi::forgetConnection(qintptr socketId) {
    // A poll still waiting must not reach a later connection that reuses the descriptor.
    for (QTimer* timer : m_pollTimers.values(socketId)) delete timer;
    m_pollTimers.remove(socketId);
    m_links.remove(socketId);
    const auto gone = m_onlineDevices.find(socketId);
    if (gone != m_onlineDevices.end()) {
        const auto indexed = m_onlineSocketBySN.constFind(gone->devSN);
        if (indexed != m_onlineSocketBySN.constEnd() && indexed.value() == socketId)
            m_onlineSocketBySN.erase(indexed);
        m_onlineDevices.erase(gone);
    }
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingPaths.remove(socketId);
    }
}
