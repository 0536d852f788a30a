#include "api/legacy/HttpBrowserAPI.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QUuid>

#include "api/auth/DeviceIdView.h"
#include "api/legacy/EntityJson.h"
#include "codec/SocketPacketHandler.h"
#include "core/LocalParaMgt.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_DevicePresence.h"
#include "db/Tab_Package.h"
#include "files/DeviceListTable.h"
#include "files/FileOperation.h"
#include "files/ImportLimits.h"
#include "files/PackageUpload.h"
#include "files/PathGuard.h"
#include "model/DeviceIdMask.h"
#include "upgrade/UpgradeRules.h"

namespace {
const QString kDownloadPrefix = QStringLiteral("/KORVA/dlPackage");

bool ensureDir(const QString& dir) {
    return QDir(dir).exists() || QDir().mkpath(dir);
}
}  // namespace

HttpBrowserAPI::HttpBrowserAPI(LocalParaMgt& settings, FileOperation& files, QObject* parent)
    : QObject(parent), m_settings(settings), m_files(files) {}

bool HttpBrowserAPI::GetDeviceList(QByteArray& json, Role reader) {
    QList<struDeviceInfo> devices;
    EntityJson codec;
    if (!Tab_DeviceInfo().getAllDevices(devices)) return false;
    DeviceIdView::apply(reader, devices);
    return codec.DeviceListToJson(1, QString(), devices, json);
}

bool HttpBrowserAPI::QueryDeviceList(const QString& deviceNo, const QString& phoneNum,
                                     QByteArray& json, Role reader) {
    QList<struDeviceInfo> devices;
    EntityJson codec;
    if (!Tab_DeviceInfo().queryDevices(devices, deviceNo, phoneNum)) return false;
    DeviceIdView::apply(reader, devices);
    return codec.DeviceListToJson(1, QString(), devices, json);
}

bool HttpBrowserAPI::GetUploadStatusList(QByteArray& json, Role reader) {
    QList<struDeviceInfo> devices;
    EntityJson codec;
    if (!Tab_DevicePresence::upgradeProgress(devices)) return false;
    DeviceIdView::apply(reader, devices);
    return codec.DeviceListToJson(devices.isEmpty() ? 0 : 1, QString(), devices, json);
}

bool HttpBrowserAPI::GetProgressList(QByteArray& json) {
    QList<struDeviceInfo> devices;
    EntityJson codec;
    if (!Tab_DevicePresence::upgradeProgress(devices)) return false;
    return codec.ProgressListToJson(devices.isEmpty() ? 0 : 1, QString(), devices, json);
}

bool HttpBrowserAPI::GetPackageList(QByteArray& json) {
    QList<struPackageInfo> packages;
    EntityJson codec;
    if (!Tab_Package().getAllPackages(packages)) return false;
    return codec.PackageListToJson(1, QString(), packages, json);
}

bool HttpBrowserAPI::ExportDeviceList(QString& path, Role reader) {
    QList<struDeviceInfo> devices;
    // The commands as stored: the file is imported back.
    if (!Tab_DeviceInfo().queryDevices(devices, QString(), QString())) return false;
    struLocalParam param;
    m_settings.readLocalParam(param);
    DeviceIdView::apply(reader, devices);
    QString file = param.ExcelDir + QDir::separator() + QStringLiteral("device information list") +
                   QUuid::createUuid().toString() + QStringLiteral(".csv");
    QDir().mkpath(QFileInfo(file).absolutePath());
    file.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!m_files.WriteCsvFile(file, devices)) return false;
    path = file;
    return true;
}

bool HttpBrowserAPI::GetPackageFilePath(const QString& url, QString& path) {
    struLocalParam param;
    m_settings.readLocalParam(param);
    const int at = url.indexOf(kDownloadPrefix);
    const QString rest = at < 0 ? url : url.mid(at + kDownloadPrefix.size());
    path = param.PackageDir + rest;
    // The rest comes from the request: it must not reach files outside the package directory,
    // nor an upload still in progress.
    return isInsideDirectory(path, param.PackageDir) && QFileInfo(path).isFile() &&
           !PackageUpload::isTempName(QFileInfo(path).fileName());
}

bool HttpBrowserAPI::UploadPackageBlock(const QString& url, const QByteArray& body,
                                        qint64 bodyLength) {
    EntityJson codec;
    struUploadParam p;
    if (!codec.ParseUploadParam(url, p)) return false;
    p.name = p.uploadTime + QLatin1Char('_') + p.name;
    if (p.type.isEmpty() || p.name.isEmpty() || p.blockSize == 0 || p.totalLength == 0)
        return false;
    // Both become path components under the package directory; an upload's temporary name is
    // never a package's.
    if (!isPlainName(p.type) || !isPlainName(p.name) || PackageUpload::isTempName(p.name))
        return false;

    struLocalParam param;
    m_settings.readLocalParam(param);
    const QString dir = param.PackageDir + QDir::separator() + p.type;
    const QString file = dir + QDir::separator() + p.name;
    // Terminals get the address in a fixed field: a package whose address would be cut could
    // never be downloaded.
    if (!SocketPacketHandler::FitsUrlField(
            PackageUrl(file, param.PackageDir, param.NetIP, param.downloadPortForTerminals())))
        return false;
    if (!ensureDir(dir)) return false;
    if (!m_files.WriteUploadBlock(file, body.left(bodyLength), p.blockIndex == 0)) return false;
    if (p.blockIndex + 1 != p.blockSize) return true;  // more blocks follow

    QByteArray sha256;
    if (!m_files.CommitUpload(file, static_cast<qint64>(p.totalLength), sha256)) return false;
    Tab_Package packages;
    struPackageInfo record;
    const bool exists = packages.getPackageByType(p.type, record);
    record.packageName = p.name;
    record.AppVersion = p.app;
    record.McuVersion = p.mcu;
    record.FourGVersion = p.fourG;
    record.GnssVersion = p.gnss;
    record.SmartModule = p.smart;
    record.packagePath = file;
    record.uploadTime = static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
    record.size = static_cast<qint32>(p.totalLength & 0xFFFFFFFFu);
    record.deviceType = p.type;
    record.sha256 = QString::fromLatin1(sha256);
    return exists ? packages.updatePackageByType(record) : packages.insertPackage(record);
}

bool HttpBrowserAPI::ImportDeviceList(const QString& url, const QByteArray& body, qint64 bodyLength,
                                      int* savedRows) {
    if (savedRows) *savedRows = 0;
    if (body.isEmpty() || body.size() != bodyLength) return false;
    EntityJson codec;
    QString storedName;
    if (!codec.ParseImportFileName(url, storedName)) return false;
    struLocalParam param;
    m_settings.readLocalParam(param);
    // Every row costs a paced save: an import is bounded before anything is written.
    const CsvLimits limits = ImportLimits::of(param).csv;
    if (body.size() > limits.maxBytes || !ensureDir(param.ExcelDir)) return false;
    const QString file = param.ExcelDir + QDir::separator() + storedName;
    if (!m_files.ImportExcelFile(file, body)) return false;

    QList<struDeviceInfo> devices;
    const bool read = m_files.ReadImportCsv(file, devices, limits);
    m_files.DeleteExcel(file);
    if (!read) return false;

    Tab_DeviceInfo table;
    for (struDeviceInfo& device : devices) {
        if (device.devSN.isEmpty()) continue;
        // A list a viewer exported shows device IDs starred out: the stored one stays as it was.
        const bool masked = DeviceIdMask::isMasked(device.devId);
        struDeviceInfo stored;
        const bool found =
            table.getDeviceBySN(stored, device.devSN) == Tab_DeviceInfo::RowState::Found;
        if (masked) device.devId = found ? stored.devId : QString();
        // The GBK file shows characters outside GBK as '?': such a text stays as stored.
        if (found && DeviceListTable::keepTextsLostInGbk(stored, device) > 0)
            qWarning() << "[ImportDeviceList] texts outside GBK kept for" << device.devSN;
        // A row the database refuses (read-only, full) fails the import instead of being
        // reported as imported; the rows before it stay.
        if (!table.saveDevice(device, !masked)) return false;
        if (savedRows) ++*savedRows;
        QThread::msleep(50);
    }
    return true;
}

bool HttpBrowserAPI::RemovePackage(const QByteArray& body) {
    EntityJson codec;
    int id = 0;
    if (!codec.ParsePackageId(body, id)) return false;
    Tab_Package packages;
    struPackageInfo record;
    if (!packages.getPackageById(id, record)) return false;
    if (!record.packagePath.isEmpty() && QFile::exists(record.packagePath))
        QFile::remove(record.packagePath);
    packages.deletePackage(id);
    return true;
}

bool HttpBrowserAPI::StopUpload() {
    return Tab_DeviceInfo().clearAutoUpdate();
}
