#include "device/TcpDataMgtApi.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include "core/DataLog.h"
#include "core/LocalParaMgt.h"
#include "core/Logger.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_Package.h"
#include "device/DeviceMetaTypes.h"
#include "device/UpgradeRules.h"
#include "files/FileOperation.h"
#include "files/PathGuard.h"

namespace {
constexpr quint16 kCmdReport = 0x0001;
constexpr quint16 kCmdProgress = 0x0002;
constexpr quint16 kCmdCommand = 0x0003;
constexpr quint16 kCmdFile = 0x0004;
constexpr quint16 kCmdReportEx = 0x0006;

std::shared_ptr<spdlog::logger> logger() {
    return getLogger("TcpDataMgtApi");
}

std::string hex(const QByteArray& bytes) {
    return bytes.toHex().toStdString();
}

QString devIdText(const SocketPacket& packet) {
    return QString::fromUtf8(SocketPacketHandler::FieldBytes(packet.devId, 32));
}

// The pending-file flag of a file type (1 to 4), nullptr for any other type.
bool* fileFlag(struDeviceInfo& device, quint32 type) {
    switch (type) {
        case 1:
            return &device.GetLogFile;
        case 2:
            return &device.GetIndexFile;
        case 3:
            return &device.GetPrintFile;
        case 4:
            return &device.GetRunInfoFile;
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

struct VersionStep {
    QString struDeviceInfo::*deviceField;
    QString struPackageInfo::*packageField;
    const char* message;
};

// The order in which components decide an upgrade, with the message of one that does not.
const VersionStep kVersionSteps[] = {
    {&struDeviceInfo::AppVersion, &struPackageInfo::AppVersion,
     "{}, 升级包App版本:{} 小于 设备App版本:{}"},
    {&struDeviceInfo::FourGVersion, &struPackageInfo::FourGVersion,
     "{}, 升级包4g版本:{} 小于 设备4g版本:{}"},
    {&struDeviceInfo::McuVersion, &struPackageInfo::McuVersion,
     "{}, 升级包mcu版本:{} 小于 设备mcu版本:{}"},
    {&struDeviceInfo::GnssVersion, &struPackageInfo::GnssVersion,
     "{}, 升级包GNSS版本:{} 小于 设备GNSS版本:{}"},
    {&struDeviceInfo::SmartModule, &struPackageInfo::SmartModule,
     "{}, 升级包智能模块版本:{} 小于 设备智能模块版本:{}"},
};
}  // namespace

TcpDataMgtApi* TcpDataMgtApi::instance() {
    // Created on the main thread by the device server's constructor, before any connection.
    static TcpDataMgtApi* self = new TcpDataMgtApi;
    return self;
}

TcpDataMgtApi::TcpDataMgtApi() : TcpDataMgtApi(struLocalParam()) {
    LocalParaMgt::instance()->readLocalParam(m_param);
}

TcpDataMgtApi::TcpDataMgtApi(const struLocalParam& param, QObject* parent)
    : QObject(parent),
      m_packetHandler(std::make_unique<SocketPacketHandler>()),
      m_deviceTable(std::make_unique<Tab_DeviceInfo>()),
      m_packageTable(std::make_unique<Tab_Package>()),
      m_param(param) {
    registerDeviceLinkMetaTypes();
}

TcpDataMgtApi::~TcpDataMgtApi() = default;

int TcpDataMgtApi::CompareVersion(const QString& packageVersion,
                                  const QString& deviceVersion) const {
    return ::CompareVersion(packageVersion, deviceVersion);
}

QString TcpDataMgtApi::GetPackageUrl(const QString& packagePath) const {
    return ::GetPackageUrl(packagePath, m_param.PackageDir, m_param.NetIP, m_param.HttpPort2);
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
    SocketPacket packet;
    if (m_packetHandler->DataParse(data, packet) != 0) {
        writeDataLog(QStringLiteral("TcpDataMgtApi::readDataSlot DataParse Failed"), data);
        return;
    }
    switch (packet.cmd) {
        case kCmdReport:
        case kCmdReportEx:
            handleDeviceReport(socketId, packet);
            break;
        case kCmdProgress:
            handleUpgradeProgress(socketId, packet);
            break;
        case kCmdCommand:
            handleCmdResult(socketId, packet);
            break;
        case kCmdFile:
            handleDeviceFile(socketId, packet);
            break;
        default:
            break;
    }
}

void TcpDataMgtApi::handleDeviceReport(qintptr socketId, const SocketPacket& packet) {
    logger()->info("{}, device Report(0x0001):{}", "TcpDataMgtApi::readDataSlot", hex(packet.data));
    struDeviceInfo report;
    const int parsed = packet.cmd == kCmdReportEx
                           ? m_packetHandler->ParseDeviceReportEx(packet.data, report)
                           : m_packetHandler->ParseDeviceReport(packet.data, report);
    if (parsed != 0) return;
    if (report.devSN.isEmpty()) {
        logger()->info("{}, device serial number is empty!", "TcpDataMgtApi::readDataSlot");
        return;
    }

    const QString devId = devIdText(packet);
    struDeviceInfo device;
    const bool registered = m_deviceTable->getDeviceBySN(device, report.devSN);
    if (!registered) {
        logger()->info("{}, device is not registered!", "TcpDataMgtApi::readDataSlot");
        report.devId = devId;
        m_deviceTable->insertDevice(report);
        logger()->critical("{}, 数据库不存在设备: {}信息", "TcpDataMgtApi::readDataSlot",
                           report.devSN.toStdString());
        // The new row is this report: later progress and results must find it by devSN.
        device = report;
    } else {
        device.devId = devId;
        device.devType = report.devType;
        device.LicensePlateNumber = report.LicensePlateNumber;
        device.PhoneNumber = report.PhoneNumber;
        device.AppVersion = report.AppVersion;
        device.McuVersion = report.McuVersion;
        device.FourGVersion = report.FourGVersion;
        device.GnssVersion = report.GnssVersion;
        device.SmartModule = report.SmartModule;
        device.Reserve = report.Reserve;
        m_deviceTable->updateDevice(device);
    }

    {
        std::lock_guard<std::mutex> lock(m_onlineMutex);
        // Entries of earlier connections of the same terminal are stale. An empty device ID
        // names no terminal: matching on it would evict every other terminal without one.
        for (auto it = m_onlineDevices.begin(); it != m_onlineDevices.end();) {
            if (it->devSN == report.devSN || (!devId.isEmpty() && it->devId == devId))
                it = m_onlineDevices.erase(it);
            else
                ++it;
        }
        m_onlineDevices.insert(socketId, device);
    }

    struPackageInfo package;
    const bool hasPackage = m_packageTable->getPackageByType(report.devType, package);
    if (!registered && (!hasPackage || package.packagePath.isEmpty())) {
        GetUpgradeFlag(socketId, packet, 0, QString());
        return;
    }
    if (!hasPackage || package.packagePath.isEmpty() || !packageServable(package)) {
        sendPendingTasks(socketId, packet, registered ? device : struDeviceInfo());
        return;
    }
    if (registered && device.isAutoUpdate) {
        BindUrlFile(package.packagePath, socketId, packet);
        return;
    }
    if (m_param.ManualMode == 1) {
        GetUpgradeFlag(socketId, packet, 0, QString());
        return;
    }
    if (upgradeDue(report, package)) {
        BindUrlFile(package.packagePath, socketId, packet);
        return;
    }
    sendPendingTasks(socketId, packet, registered ? device : struDeviceInfo());
}

bool TcpDataMgtApi::upgradeDue(const struDeviceInfo& report, const struPackageInfo& package) {
    for (const VersionStep& step : kVersionSteps) {
        const QString& packageVersion = package.*step.packageField;
        if (packageVersion.isEmpty()) continue;
        const QString& deviceVersion = report.*step.deviceField;
        if (CompareVersion(packageVersion, deviceVersion) > 0) return true;
        logger()->info(step.message, "TcpDataMgtApi::readDataSlot", packageVersion.toStdString(),
                       deviceVersion.toStdString());
    }
    return false;
}

bool TcpDataMgtApi::packageServable(const struPackageInfo& package) const {
    const char* const op = "TcpDataMgtApi::readDataSlot";
    const QFileInfo file(package.packagePath);
    if (!file.isFile()) {
        logger()->info("{}, package file missing: {}", op, package.packagePath.toStdString());
        return false;
    }
    // The stored size keeps the low 32 bits of the announced one.
    if (static_cast<qint32>(file.size() & 0xFFFFFFFF) != package.size) {
        logger()->info("{}, package file changed on disk: {} has {} bytes, {} uploaded", op,
                       package.packagePath.toStdString(), file.size(), package.size);
        return false;
    }
    if (!SocketPacketHandler::FitsUrlField(PackageUrl(package.packagePath, m_param.PackageDir,
                                                      m_param.NetIP, m_param.HttpPort2))) {
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

    if (isPlainName(device.devSN)) {
        const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmm"));
        const QString sep = QDir::separator();
        const QString tail = sep + device.devSN + sep + time + sep;
        DevFilePaths paths;
        paths.log = m_param.DevLogDir + tail;
        paths.index = m_param.DevIndexDir + tail;
        paths.print = m_param.PrintDir + tail;
        paths.runInfo = m_param.RunInfoDir + tail;
        StorePendingPaths(socketId, paths);
    } else {
        // The serial number names a directory: one that leaves the file store gets none.
        logger()->info("{}, device serial number unfit for a directory name: {}",
                       "TcpDataMgtApi::readDataSlot", device.devSN.toStdString());
    }

    const quint32 type = firstPendingFileType(device);
    if (type != 0)
        SendGetFile(socketId, header, type);
    else
        GetUpgradeFlag(socketId, header, 0, QString());
}

void TcpDataMgtApi::BindUrlFile(const QString& packagePath, qintptr socketId,
                                const SocketPacket& header) {
    const QString url = GetPackageUrl(packagePath);
    const QString filePath = QDir::fromNativeSeparators(packagePath);
    if (m_urlBinder) {
        m_urlBinder(url, filePath);
        logger()->info("{}, Bind url and file path, url:{}, file path:{}",
                       "TcpDataMgtApi::BindUrlFile", url.toStdString(), filePath.toStdString());
    } else {
        logger()->info("{}, no download server to bind url:{}", "TcpDataMgtApi::BindUrlFile",
                       url.toStdString());
    }
    GetUpgradeFlag(socketId, header, 1, url);
    SendProgressPoll(socketId, header);
}

void TcpDataMgtApi::GetUpgradeFlag(qintptr socketId, const SocketPacket& header, quint32 flag,
                                   const QString& url) {
    UpgradeFlagData flagData;
    flagData.flag = flag;
    flagData.url = url;
    QByteArray body;
    m_packetHandler->PackUpgradeFlag(flagData, body);
    logger()->info("{}, GetUpgradeFlag:outData {} {}", "TcpDataMgtApi::GetUpgradeFlag", hex(body),
                   body.size());
    const SocketPacket answer =
        SocketPacketHandler::AnswerHeader(header, kCmdReport, static_cast<quint16>(body.size()));
    QByteArray packet;
    if (m_packetHandler->DataPack(answer, body, packet) != 0) return;
    logger()->info("{}, GetAllPackage:allData {} {}", "TcpDataMgtApi::GetUpgradeFlag", hex(packet),
                   packet.size());
    emit sendSocketData(packet, socketId);
}

void TcpDataMgtApi::SendConfigCmd(qintptr socketId, const SocketPacket& header,
                                  const QString& command) {
    QByteArray body;
    m_packetHandler->PackConfigCmd(command, body);
    sendAnswer(socketId, header, kCmdCommand, body);
}

void TcpDataMgtApi::SendGetFile(qintptr socketId, const SocketPacket& header, quint32 fileType) {
    QByteArray body;
    m_packetHandler->PackGetFile(fileType, body);
    sendAnswer(socketId, header, kCmdFile, body);
}

void TcpDataMgtApi::SendProgressPoll(qintptr socketId, const SocketPacket& header) {
    QByteArray body;
    m_packetHandler->PackEmpty(body);
    sendAnswer(socketId, header, kCmdProgress, body);
}

void TcpDataMgtApi::sendAnswer(qintptr socketId, const SocketPacket& received, quint16 cmd,
                               const QByteArray& body) {
    // A body beyond the packet limit (an overlong command text) cannot be framed.
    if (body.size() > SocketPacketHandler::kMaxDataLen) {
        logger()->info("{}, answer body too long: {}", "TcpDataMgtApi::sendAnswer", body.size());
        return;
    }
    const SocketPacket header =
        SocketPacketHandler::AnswerHeader(received, cmd, static_cast<quint16>(body.size()));
    QByteArray packet;
    if (m_packetHandler->DataPack(header, body, packet) != 0) return;
    emit sendSocketData(packet, socketId);
}

void TcpDataMgtApi::StorePendingPaths(qintptr socketId, const DevFilePaths& paths) {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pendingPaths.insert(socketId, paths);
}

bool TcpDataMgtApi::updateOnlineRecord(qintptr socketId,
                                       const std::function<void(struDeviceInfo&)>& change,
                                       struDeviceInfo* updated) {
    struDeviceInfo copy;
    {
        std::lock_guard<std::mutex> lock(m_onlineMutex);
        auto it = m_onlineDevices.find(socketId);
        if (it == m_onlineDevices.end()) return false;
        change(*it);
        copy = *it;
    }
    // The table is written outside the lock: the web API's readers never wait on SQLite.
    m_deviceTable->updateDevice(copy);
    if (updated) *updated = std::move(copy);
    return true;
}

void TcpDataMgtApi::handleUpgradeProgress(qintptr socketId, const SocketPacket& packet) {
    int progress = 0;
    if (m_packetHandler->ParseUpgradeProgress(packet.data, progress) != 0) return;
    logger()->info("{}, Upgrade Progress results(0x0002):{}", "TcpDataMgtApi::readDataSlot",
                   hex(packet.data));

    if (progress == 100) {
        updateOnlineRecord(socketId, [](struDeviceInfo& device) {
            device.UpgradeCompletionTime =
                static_cast<qint32>(QDateTime::currentDateTime().toSecsSinceEpoch());
            device.isAutoUpdate = false;
            device.upgradeProgress = 100;
            device.progressReported = true;
        });
        return;
    }

    {
        std::lock_guard<std::mutex> lock(m_onlineMutex);
        auto it = m_onlineDevices.find(socketId);
        if (it != m_onlineDevices.end()) {
            it->progressReported = true;
            it->upgradeProgress = static_cast<quint32>(progress);
        }
    }
    // The pause paces a terminal that reports rapidly, without holding up the others.
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
    logger()->info("{}, cmd exec result(0x0003):{}", "TcpDataMgtApi::readDataSlot",
                   result.text.toStdString());
    logger()->info("{}, telnet Parameter configuration results(0x0003):{}",
                   "TcpDataMgtApi::readDataSlot", hex(packet.data));
    if (result.resultCode != 0) return;  // stays pending: sent again at the next report

    updateOnlineRecord(socketId, [](struDeviceInfo& device) { device.ConfigCmd.clear(); });
}

void TcpDataMgtApi::handleDeviceFile(qintptr socketId, const SocketPacket& packet) {
    logger()->info("{}, Get Device File results(0x0004):{}", "TcpDataMgtApi::readDataSlot",
                   hex(packet.data));
    DeviceFileData chunk;
    if (m_packetHandler->ParseDeviceFile(packet.data, chunk) != 0) return;
    FileOperation* fileStore = FileOperation::instance();
    if (!fileStore) return;

    if (!isPlainName(chunk.fileName)) {
        logger()->info("{}, device file name refused: {}", "TcpDataMgtApi::readDataSlot",
                       chunk.fileName.toStdString());
        return;
    }
    DevFilePaths paths;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        paths = m_pendingPaths.value(socketId);
    }
    const QString directory = paths.forType(chunk.type);
    if (!directory.isEmpty()) {
        fileStore->WriteDevUploadFile(directory + chunk.fileName, chunk.data);
    } else if (chunk.type >= 1 && chunk.type <= 4) {
        // Without the directory of a report the name alone would land in the working directory.
        logger()->info("{}, no directory for device file: {}", "TcpDataMgtApi::readDataSlot",
                       chunk.fileName.toStdString());
    }

    if (chunk.counter1 != chunk.counter2 || chunk.counter3 != chunk.counter4) return;

    const auto clearFlag = [&chunk](struDeviceInfo& record) {
        if (bool* flag = fileFlag(record, chunk.type)) *flag = false;
    };
    struDeviceInfo device;
    if (!updateOnlineRecord(socketId, clearFlag, &device)) return;
    const quint32 next = firstPendingFileType(device);
    if (next != 0) SendGetFile(socketId, packet, next);
}

void TcpDataMgtApi::sockDisConnect(qintptr socketId, QString ip, quint16 port) {
    Q_UNUSED(ip);
    Q_UNUSED(port);
    qDebug() << "TcpDataMgtApi::sockDisConnect thread is:" << QThread::currentThreadId();
    // A poll still waiting must not reach a later connection that reuses the descriptor.
    for (QTimer* timer : m_pollTimers.values(socketId)) delete timer;
    m_pollTimers.remove(socketId);
    {
        std::lock_guard<std::mutex> lock(m_onlineMutex);
        m_onlineDevices.remove(socketId);
    }
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingPaths.remove(socketId);
    }
}

bool TcpDataMgtApi::GetUpgradeProgress(QList<struDeviceInfo>& out) {
    std::lock_guard<std::mutex> lock(m_onlineMutex);
    out.clear();
    for (auto it = m_onlineDevices.cbegin(); it != m_onlineDevices.cend(); ++it)
        if (it->progressReported) out.append(*it);
    return true;
}
