// The service's entry point: the start-up sequence, then the event loop.
#include <cstdio>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QHostAddress>
#include <QThreadPool>
#include <QtConcurrent>

#include "api/auth/AuditLog.h"
#include "api/auth/AuthService.h"
#include "api/auth/InitialAdmin.h"
#include "api/auth/Secrets.h"
#include "api/v2/StallClock.h"
#include "app/DatabaseStartup.h"
#include "app/MigrateCommand.h"
#include "app/ShutdownDrain.h"
#include "core/AppDir.h"
#include "core/ConsoleControl.h"
#include "core/CrashHandler.h"
#include "core/DbCallTimer.h"
#include "core/LocalParaMgt.h"
#include "core/Logger.h"
#include "core/MetricsRegistry.h"
#include "core/OpenFileLimit.h"
#include "core/ProxyTrust.h"
#include "core/ScrapeHook.h"
#include "db/SQLiteDb.h"
#include "device/DeviceActivity.h"
#include "device/PresenceLease.h"
#include "device/ReportWriteQueue.h"
#include "device/TcpDataMgtApi.h"
#include "device/TerminalMetrics.h"
#include "device/UpgradeMetrics.h"
#include "device/link/OrbTcpServer.h"
#include "download/DownloadMetrics.h"
#include "download/EmbeddedWebServer.h"
#include "files/FileOperation.h"
#include "notify/WebhookDispatcher.h"
#include "upgrade/rollout/FleetSampler.h"
#include "upgrade/rollout/RolloutNotices.h"
#include "upgrade/rollout/RolloutSupervisor.h"
#include "web/ClusterGauges.h"
#include "web/HttpMetrics.h"
#include "web/PackageFileResolver.h"
#include "web/WebServer.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(WAYFARER_VERSION));
    if (app.arguments().contains(QStringLiteral("--migrate-to-postgresql")))
        return migrateToPostgreSQL();

    if (!initLogger("WFSLog")) {
        std::fprintf(stderr, "Wayfarer: cannot open the log file; the service does not start.\n");
        return 1;
    }
    routeQtMessages();

    const QString dumpDir = QDir::toNativeSeparators(QDir::cleanPath(
        applicationDirectory() + QDir::separator() + QStringLiteral("ExceptionDump")));
    QDir().mkpath(dumpDir);
    if (!installCrashHandler(dumpDir)) {
        qWarning("Wayfarer: Wayfarer崩溃捕获模块失败。【崩溃捕获】申请内存失败");
    }

    QThreadPool::globalInstance()->setMaxThreadCount(100);

    struLocalParam param;
    LocalParaMgt settings(applicationDirectory());
    settings.readLocalParam(param);
    settings.writeLocalParam(param);
    LogSettings logging;
    logging.level = param.LogLevel.toStdString();
    logging.maxFileBytes = size_t(param.LogFileMaxMiB) * 1024 * 1024;
    logging.maxFiles = param.LogMaxFiles;
    logging.retentionDays = static_cast<int>(param.LogRetentionDays);
    if (!configureLogging(logging))
        qWarning("[start] LogLevel %s is no log level; info is used",
                 param.LogLevel.toLocal8Bit().constData());
    qInfo("[start] Wayfarer %s, instance %s, database %s, log level %s", WAYFARER_VERSION,
          param.InstanceName.toLocal8Bit().constData(),
          (param.DbDriver.isEmpty() ? QStringLiteral("sqlite") : param.DbDriver)
              .toLocal8Bit()
              .constData(),
          param.LogLevel.toLocal8Bit().constData());

    const OpenFileLimit files = raiseOpenFileLimit();
    if (files.soft > 0 && files.soft < openFilesWanted(param.MaxConnCount))
        qWarning().nospace() << "[start] open file limit " << files.soft << " is too low for "
                             << param.MaxConnCount << " terminal connections";

    // What the service counts, read by the management port's "/metrics"; every family is
    // declared from the first scrape on, also those whose events have not happened yet.
    MetricsRegistry metrics;
    TerminalMetrics terminalMetrics(metrics);
    UpgradeMetrics upgradeMetrics(metrics);
    DownloadMetrics downloadMetrics(metrics);
    HttpMetrics httpMetrics(metrics);
    DbCallMetrics dbMetrics(metrics);
    SQLiteDb::instance()->setMetrics(&dbMetrics);
    // Fleet-wide readings come from one instance at a time, so that a sum over instances holds.
    PresenceLease lease(param.InstanceName, param.InstanceLeaseSeconds);
    metrics.addCollector([&lease](std::vector<prometheus::MetricFamily>& out) {
        if (lease.reportsClusterGauges()) ClusterGauges::collect(out);
    });

    WebhookDispatcher::Settings webhookSettings;
    webhookSettings.queueSize = static_cast<int>(param.WebhookQueueSize);
    webhookSettings.attempts = static_cast<int>(param.WebhookAttempts);
    webhookSettings.retrySeconds = param.WebhookRetrySeconds;
    webhookSettings.timeoutSeconds = param.WebhookTimeoutSeconds;
    WebhookDispatcher webhooks(metrics, webhookSettings);
    RolloutNotices rolloutNotices(webhooks);
    rolloutNotices.setSpeaker([&lease] { return lease.reportsClusterGauges(); });

    FileOperation fileStore;
    ReportWriteQueue reportWrites(metrics, static_cast<int>(param.ReportWriteQueueLimit));
    DeviceActivity activity(param.InstanceName, upgradeMetrics, reportWrites);
    activity.setNotifier(&webhooks);
    const auto onlineGauge = terminalMetrics.watchOnline(
        param.InstanceName.toStdString(), [&activity] { return activity.terminalsOnline(); });
    AuthService auth;
    auth.countLoginFailures(metrics);
    HttpBrowserAPI browserApi(settings, fileStore);

    // HTTPS, when configured, or nothing: a management port that silently fell back to plain
    // HTTP would send passwords in clear.
    WebServer webServer({metrics, httpMetrics, auth, browserApi, settings, &rolloutNotices});
    const bool tls = !param.TlsCertificate.isEmpty() || !param.TlsKey.isEmpty();
    if (tls) {
        QString error = QStringLiteral("TlsCertificate and TlsKey must both be set");
        if (param.TlsCertificate.isEmpty() || param.TlsKey.isEmpty() ||
            !webServer.setTls(param.TlsCertificate, param.TlsKey, error)) {
            qCritical("Wayfarer: HTTPS on the management port: %s; the service does not start.",
                      error.toLocal8Bit().constData());
            return 1;
        }
    }
    const bool loginRequired = param.OperatorLogin != 0;
    if (!Secrets::init()) {
        qCritical("Wayfarer: libsodium cannot start; the service does not start.");
        return 1;
    }
    AuthService::Settings access;
    access.loginRequired = loginRequired;
    access.sessionIdleMs = static_cast<qint64>(param.SessionIdleMinutes * 60 * 1000);
    access.secureCookie = tls;
    auth.configure(access);
    if (!loginRequired) {
        qWarning(
            "Wayfarer: OperatorLogin=0, the management port %d is open to everyone without a "
            "login.",
            param.HttpPort);
    } else {
        if (!tls)
            qWarning(
                "Wayfarer: the management port %d speaks plain HTTP; passwords and sessions "
                "cross the network in clear (set TlsCertificate and TlsKey).",
                param.HttpPort);
    }
    // The first account with logins on, once the database can be had.
    const auto firstAccount = [loginRequired]() {
        if (!loginRequired) return true;
        switch (InitialAdmin::ensure(applicationDirectory())) {
            case InitialAdmin::Result::Created:
                qInfo(
                    "Wayfarer: created the account admin; its first password is in %s "
                    "(readable by this user only) and must be changed at the first login.",
                    InitialAdmin::filePath(applicationDirectory()).toLocal8Bit().constData());
                return true;
            case InitialAdmin::Result::Existing:
                return true;
            case InitialAdmin::Result::Failed:
                break;
        }
        qCritical("Wayfarer: cannot create the first account admin.");
        return false;
    };
    DatabaseStartup database([firstAccount, &activity, &lease]() {
        activity.clearStalePresence();
        lease.start();
        return firstAccount();
    });
    if (database.run() == DatabaseStartup::Result::Failed) {
        qCritical("Wayfarer: cannot open or prepare the database; the service does not start.");
        return 1;
    }

    // The exchange directory only ever holds this run's exports and imports.
    const QString excelDir = param.ExcelDir;
    QtConcurrent::run([excelDir, &fileStore] { fileStore.removeFolderContent(excelDir); });

    // Uploads broken off long ago leave their temporary files; a recent one may still go on.
    fileStore.RemoveStaleUploads(param.PackageDir, 3600);

    EmbeddedWebServer downloads(downloadMetrics);
    downloads.setResolver(PackageFileResolver(param.PackageDir));
    if (!downloads.start(static_cast<uint32_t>(param.HttpPort2),
                         param.HttpListenAddress2.toStdString()))
        qCritical().nospace() << "[start] Download server start failed! " << param.HttpPort2;

    webServer.setThreadCount(10);
    webServer.setWebRoot(applicationDirectory() + QStringLiteral("/Web"));
    webServer.setDefaultPage(QStringLiteral("index.asp"));
    webServer.setBodyBudget(qint64(param.HttpMaxBodyMemory) * 1024 * 1024);
    webServer.setStallTimeout(static_cast<int>(param.HttpStallTimeOut));
    webServer.setMaxConnections(static_cast<int>(param.HttpMaxConnections));
    webServer.setMaxConnectionsPerAddress(static_cast<int>(param.HttpMaxConnectionsPerAddress));
    QStringList unforwarded;
    if (!param.HttpProxyTrusted.isEmpty())
        webServer.setForwardingProxies(ProxyTrust::parse(param.HttpProxyTrusted, &unforwarded));
    if (!unforwarded.isEmpty())
        qWarning().noquote()
            << "[start] HttpProxyTrusted entries that are no address or range, left out:"
            << unforwarded.join(QStringLiteral(", "));
    webServer.start(param.HttpListenAddress, static_cast<quint16>(param.HttpPort));

    OrbTcpServer::Limits links;
    links.maxConnCount = param.MaxConnCount;
    links.proxyProtocol = param.TcpProxyProtocol == 1;
    QStringList untrusted;
    links.proxyTrusted = ProxyTrust::parse(param.TcpProxyTrusted, &untrusted);
    if (!untrusted.isEmpty())
        qDebug().noquote()
            << "[start] TcpProxyTrusted entries that are no address or range, left out:"
            << untrusted.join(QStringLiteral(", "));
    TcpDataMgtApi terminals(param, terminalMetrics, activity, fileStore);
    OrbTcpServer tcpServer(terminals, terminalMetrics, links);
    // The handler names a connection's peer in what it logs about it.
    QObject::connect(&tcpServer, &OrbTcpServer::connectClient, &terminals,
                     &TcpDataMgtApi::sockConnect);
    if (tcpServer.listenDeep(QHostAddress(param.TcpListenAddress),
                             static_cast<quint16>(param.TcpPort)))
        qInfo().nospace() << "[start] Tcp Server start OK! " << param.TcpPort;
    else
        qCritical().nospace() << "[start] Tcp Server start failed! " << param.TcpPort;

    RolloutSupervisor rollouts(param.RolloutCheckSeconds, stallMinutes());
    rollouts.setAudit(&AuditLog::recordSystem);
    rollouts.setNotices(&rolloutNotices);
    rollouts.start();
    FleetSampler fleetHistory(param.DashboardSampleSeconds, param.DashboardKeepDays,
                              stallMinutes());
    fleetHistory.start();

    installConsoleControlHandler();
    ShutdownDrain drain(
        tcpServer, [&downloads] { return downloads.openConnections(); }, param.DrainSeconds);
    if (param.DrainSeconds > 0 && !drain.arm())
        qWarning("[start] no pipe for the drain: SIGTERM ends the service at once");
    releaseLoggers();
    return app.exec();
}
