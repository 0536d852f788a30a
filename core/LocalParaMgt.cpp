#include "core/LocalParaMgt.h"

#include <QAbstractSocket>
#include <QDir>
#include <QHostAddress>
#include <QHostInfo>
#include <QSettings>

namespace {
const QString kGroup = QStringLiteral("LocalParam");

// A time-out outside 60..3600 seconds (taken as signed) falls back to the default.
quint32 readTimeOut(QSettings& settings, const QString& key) {
    quint32 value = settings.value(key, LocalParaMgt::kDefaultTimeOut).toUInt();
    const qint32 asSigned = static_cast<qint32>(value);
    if (asSigned < 60 || asSigned > 3600) value = LocalParaMgt::kDefaultTimeOut;
    return value;
}

// Fractions are allowed (tests use seconds); anything not above zero, or over a week, is 30.
double readIdleMinutes(QSettings& settings) {
    bool ok = false;
    const double value = settings.value(QStringLiteral("SessionIdleMinutes")).toDouble(&ok);
    return ok && value > 0 && value <= 7 * 24 * 60 ? value
                                                   : LocalParaMgt::kDefaultSessionIdleMinutes;
}

// An optional limit: missing, not a number or 0 gives its default.
quint32 readLimit(QSettings& settings, const QString& key, quint32 fallback) {
    bool ok = false;
    const quint32 value = settings.value(key).toUInt(&ok);
    return ok && value > 0 ? value : fallback;
}

// A rate where 0 means no limit: missing or not a number gives its default.
quint32 readRate(QSettings& settings, const QString& key, quint32 fallback) {
    bool ok = false;
    const quint32 value = settings.value(key).toUInt(&ok);
    return ok ? value : fallback;
}

// A time with fractions (so a test can wait seconds): not a number or not above zero gives its
// default.
double readPositive(QSettings& settings, const QString& key, double fallback) {
    bool ok = false;
    const double value = settings.value(key).toDouble(&ok);
    return ok && value > 0 ? value : fallback;
}

// A listen address: empty gives every interface; anything else is taken as written, so that a
// mistyped one makes its port fail to start instead of opening it on every interface.
QString listenAddress(QSettings& settings, const QString& key) {
    const QString value = settings.value(key).toString().trimmed();
    return value.isEmpty() ? QStringLiteral("0.0.0.0") : value;
}

// An absolute directory (native separators, no trailing one); a relative or empty value gives
// the fallback, since instances started from different directories must agree on it.
QString storeDir(QSettings& settings, const QString& key, const QString& fallback) {
    const QString value = settings.value(key).toString().trimmed();
    if (value.isEmpty() || QDir::isRelativePath(value)) return fallback;
    return QDir::toNativeSeparators(QDir::cleanPath(value));
}
}  // namespace

LocalParaMgt::LocalParaMgt(const QString& appDir, QObject* parent)
    : QObject(parent),
      m_appDir(appDir),
      m_configPath(appDir + QDir::separator() + QStringLiteral("config.ini")),
      m_dirPrefix(appDir + QDir::separator()),
      m_localAddress(localIPv4()) {}

QString LocalParaMgt::configPath() const {
    return m_configPath.isEmpty() ? m_appDir + QDir::separator() + QStringLiteral("config.ini")
                                  : m_configPath;
}

QString LocalParaMgt::localIPv4() {
    const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) return address.toString();
    }
    return QStringLiteral("0.0.0.0");
}

void LocalParaMgt::readLocalParam(struLocalParam& param) {
    param = struLocalParam();
    QSettings settings(configPath(), QSettings::IniFormat);
    settings.beginGroup(kGroup);

    param.ExcelDir = m_dirPrefix + QStringLiteral("Excel");
    // Instances that share their packages and terminal files name the same directories here;
    // paths stored in the database then hold on every instance.
    param.PackageDir =
        storeDir(settings, QStringLiteral("PackageStore"), m_dirPrefix + QStringLiteral("Package"));
    const QString fileRoot = storeDir(settings, QStringLiteral("DeviceFileStore"), m_appDir);
    param.DevLogDir = fileRoot + QDir::separator() + QStringLiteral("DevLog");
    param.DevIndexDir = fileRoot + QDir::separator() + QStringLiteral("DevIndex");
    param.PrintDir = fileRoot + QDir::separator() + QStringLiteral("Print");
    param.RunInfoDir = fileRoot + QDir::separator() + QStringLiteral("RunInfo");

    param.TcpPort = settings.value(QStringLiteral("TcpPort"), kDefaultTcpPort).toInt();
    param.HttpPort = settings.value(QStringLiteral("HttpPort"), kDefaultHttpPort).toInt();
    param.HttpPort2 = settings.value(QStringLiteral("HttpPort2"), kDefaultHttpPort2).toInt();
    param.MaxConnCount =
        settings.value(QStringLiteral("MaxConnCount"), kDefaultMaxConnCount).toInt();

    param.NetIP = settings.value(QStringLiteral("NetIP")).toString();
    if (param.NetIP.isEmpty()) param.NetIP = m_localAddress;

    param.HttpRecvTimeOut = readTimeOut(settings, QStringLiteral("HttpRecvTimeOut"));
    param.HttpSendTimeOut = readTimeOut(settings, QStringLiteral("HttpSendTimeOut"));
    param.ManualMode = settings.value(QStringLiteral("ManualMode"), 0u).toUInt();
    // Zero or not a number would refuse every terminal file: the default instead.
    param.DeviceFileQuotaMiB = settings.value(QStringLiteral("DeviceFileQuotaMiB")).toUInt();
    if (param.DeviceFileQuotaMiB == 0)
        param.DeviceFileQuotaMiB = struLocalParam::kDefaultDeviceFileQuotaMiB;
    param.OperatorLogin = settings.value(QStringLiteral("OperatorLogin"), 1u).toUInt();
    param.SessionIdleMinutes = readIdleMinutes(settings);
    param.TlsCertificate = settings.value(QStringLiteral("TlsCertificate")).toString().trimmed();
    param.TlsKey = settings.value(QStringLiteral("TlsKey")).toString().trimmed();
    param.HttpMaxBodyMemory =
        readLimit(settings, QStringLiteral("HttpMaxBodyMemory"), kDefaultHttpMaxBodyMemory);
    param.HttpStallTimeOut =
        readLimit(settings, QStringLiteral("HttpStallTimeOut"), kDefaultHttpStallTimeOut);
    param.HttpMaxConnections = readLimit(settings, QStringLiteral("HttpMaxConnections"), 0);
    param.HttpMaxConnectionsPerAddress =
        readLimit(settings, QStringLiteral("HttpMaxConnectionsPerAddress"), 0);
    param.ImportMaxBytes =
        readLimit(settings, QStringLiteral("ImportMaxBytes"), kDefaultImportMaxBytes);
    param.ImportMaxRows =
        readLimit(settings, QStringLiteral("ImportMaxRows"), kDefaultImportMaxRows);
    param.ImportMaxCells =
        readLimit(settings, QStringLiteral("ImportMaxCells"), kDefaultImportMaxCells);
    param.BulkConfirmTypedCount = readLimit(settings, QStringLiteral("BulkConfirmTypedCount"),
                                            struLocalParam::kDefaultBulkConfirmTypedCount);
    param.UpgradeStallMinutes =
        readPositive(settings, QStringLiteral("UpgradeStallMinutes"), kDefaultUpgradeStallMinutes);
    param.RolloutCheckSeconds =
        readPositive(settings, QStringLiteral("RolloutCheckSeconds"), kDefaultRolloutCheckSeconds);
    bool retryRead = false;
    param.UpgradeRetryLimit =
        settings.value(QStringLiteral("UpgradeRetryLimit"), 3u).toUInt(&retryRead);
    if (!retryRead) param.UpgradeRetryLimit = 3;  // not a number: the default, not "no limit"
    param.DashboardSampleSeconds = readPositive(settings, QStringLiteral("DashboardSampleSeconds"),
                                                kDefaultDashboardSampleSeconds);
    param.DashboardKeepDays =
        readPositive(settings, QStringLiteral("DashboardKeepDays"), kDefaultDashboardKeepDays);
    param.DbDriver = settings.value(QStringLiteral("DbDriver")).toString().trimmed().toLower();
    if (param.DbDriver.isEmpty()) param.DbDriver = QStringLiteral("sqlite");
    param.DbHost = settings.value(QStringLiteral("DbHost")).toString().trimmed();
    param.DbPort = settings.value(QStringLiteral("DbPort"), kDefaultDbPort).toInt();
    param.DbName = settings.value(QStringLiteral("DbName"), QStringLiteral("wayfarer")).toString();
    param.DbUser = settings.value(QStringLiteral("DbUser"), QStringLiteral("wayfarer")).toString();
    param.DbPasswordFile = settings.value(QStringLiteral("DbPasswordFile")).toString().trimmed();
    param.InitialPasswordFile =
        settings.value(QStringLiteral("InitialPasswordFile")).toString().trimmed();
    param.InstanceName = settings.value(QStringLiteral("InstanceName")).toString().trimmed();
    if (param.InstanceName.isEmpty())
        param.InstanceName =
            QHostInfo::localHostName() + QLatin1Char(':') + QString::number(param.TcpPort);
    bool advertised = false;
    param.NetHttpPort2 = settings.value(QStringLiteral("NetHttpPort2")).toInt(&advertised);
    if (!advertised || param.NetHttpPort2 <= 0 || param.NetHttpPort2 > 65535)
        param.NetHttpPort2 = param.HttpPort2;
    param.TcpProxyProtocol = settings.value(QStringLiteral("TcpProxyProtocol"), 0u).toUInt();
    // A list written with commas reads back as several values.
    param.TcpProxyTrusted =
        settings.value(QStringLiteral("TcpProxyTrusted")).toStringList().join(QLatin1Char(','));
    param.HttpProxyTrusted =
        settings.value(QStringLiteral("HttpProxyTrusted")).toStringList().join(QLatin1Char(','));
    param.TcpListenAddress = listenAddress(settings, QStringLiteral("TcpListenAddress"));
    param.HttpListenAddress = listenAddress(settings, QStringLiteral("HttpListenAddress"));
    param.HttpListenAddress2 = listenAddress(settings, QStringLiteral("HttpListenAddress2"));
    param.DrainSeconds = readPositive(settings, QStringLiteral("DrainSeconds"), 0);
    param.RegistrationsPerMinutePerAddress =
        readRate(settings, QStringLiteral("RegistrationsPerMinutePerAddress"),
                 struLocalParam::kDefaultRegistrationsPerMinutePerAddress);
    param.RegistrationsPerMinute = readRate(settings, QStringLiteral("RegistrationsPerMinute"),
                                            struLocalParam::kDefaultRegistrationsPerMinute);
    const quint32 waiting = settings.value(QStringLiteral("ReportWriteQueueLimit")).toUInt();
    param.ReportWriteQueueLimit =
        waiting > 0 ? waiting : struLocalParam::kDefaultReportWriteQueueLimit;
    param.WebhookQueueSize = readLimit(settings, QStringLiteral("WebhookQueueSize"), 1000);
    param.WebhookAttempts = readLimit(settings, QStringLiteral("WebhookAttempts"), 5);
    param.WebhookRetrySeconds = readPositive(settings, QStringLiteral("WebhookRetrySeconds"), 5);
    param.WebhookTimeoutSeconds =
        readPositive(settings, QStringLiteral("WebhookTimeoutSeconds"), 10);
    const QString level = settings.value(QStringLiteral("LogLevel")).toString().trimmed().toLower();
    if (!level.isEmpty()) param.LogLevel = level;
    param.LogFileMaxMiB = readLimit(settings, QStringLiteral("LogFileMaxMiB"), param.LogFileMaxMiB);
    param.LogMaxFiles = readLimit(settings, QStringLiteral("LogMaxFiles"), param.LogMaxFiles);
    param.LogRetentionDays = readRate(settings, QStringLiteral("LogRetentionDays"), 0);
    param.InstanceLeaseSeconds =
        readPositive(settings, QStringLiteral("InstanceLeaseSeconds"), param.InstanceLeaseSeconds);

    settings.endGroup();
}

void LocalParaMgt::writeLocalParam(const struLocalParam& param) {
    QSettings settings(configPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("LocalParam/TcpPort"), param.TcpPort);
    settings.setValue(QStringLiteral("LocalParam/HttpPort"), param.HttpPort);
    settings.setValue(QStringLiteral("LocalParam/HttpPort2"), param.HttpPort2);
    settings.setValue(QStringLiteral("LocalParam/MaxConnCount"), param.MaxConnCount);
    settings.setValue(QStringLiteral("LocalParam/HttpRecvTimeOut"), param.HttpRecvTimeOut);
    settings.setValue(QStringLiteral("LocalParam/HttpSendTimeOut"), param.HttpSendTimeOut);
    settings.setValue(QStringLiteral("LocalParam/ManualMode"), param.ManualMode);
}
