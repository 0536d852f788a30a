#pragma once

#include <QString>

// The local parameters in force; every user reads its own copy through LocalParaMgt.
struct struLocalParam {
    QString ExcelDir;
    QString PackageDir;
    QString DevLogDir;
    QString DevIndexDir;
    QString PrintDir;
    QString RunInfoDir;
    qint32 TcpPort = 0;
    qint32 HttpPort = 0;
    qint32 HttpPort2 = 0;
    // The IPv4 address each port listens on (default every interface); read, never written back.
    QString TcpListenAddress;
    QString HttpListenAddress;
    QString HttpListenAddress2;
    qint32 MaxConnCount = 0;
    QString NetIP;
    quint32 HttpRecvTimeOut = 0;
    quint32 HttpSendTimeOut = 0;
    quint32 ManualMode = 0;
    // The most one requested terminal file may store; read only, never written back.
    static constexpr quint32 kDefaultDeviceFileQuotaMiB = 64;
    quint32 DeviceFileQuotaMiB = kDefaultDeviceFileQuotaMiB;
    // Read only, never written back.
    quint32 OperatorLogin = 0;      // 0: the management port is open to everyone, as before
    double SessionIdleMinutes = 0;  // a session ends after this long without a request
    QString TlsCertificate;         // both set: the management port speaks HTTPS only
    QString TlsKey;
    // Optional keys, read but never written back: limits of the management web server and of
    // a device-list import.
    quint32 HttpMaxBodyMemory = 0;   // MiB of request bodies held at once
    quint32 HttpStallTimeOut = 0;    // seconds a request head or a silent body may take
    quint32 HttpMaxConnections = 0;  // 0: a quarter of the open-file limit
    // 0: a quarter of HttpMaxConnections
    quint32 HttpMaxConnectionsPerAddress = 0;
    quint32 ImportMaxBytes = 0;
    quint32 ImportMaxRows = 0;
    quint32 ImportMaxCells = 0;  // per row
    // A bulk request over more terminals than this asks for their count to be typed; read,
    // never written back.
    static constexpr quint32 kDefaultBulkConfirmTypedCount = 1000;
    quint32 BulkConfirmTypedCount = kDefaultBulkConfirmTypedCount;
    // An upgrade without progress for this long counts as stalled; read, never written back.
    double UpgradeStallMinutes = 30;
    // How often rollout plans are looked at (pause, next stage); read, never written back.
    double RolloutCheckSeconds = 30;
    // Installs of one upload that did not take before a terminal is held back from it until an
    // operator releases it; 0 for no limit. Read, never written back.
    quint32 UpgradeRetryLimit = 3;
    // The dashboard's history: a sample of the fleet's counts per period, kept so many days;
    // read, never written back.
    double DashboardSampleSeconds = 300;
    double DashboardKeepDays = 30;
    // The database; read, never written back. "sqlite" (WFS.db beside the program, the default)
    // or "postgresql" on DbHost (a name, an address or a socket directory) and DbPort. The
    // password is the first line of DbPasswordFile, so that config.ini holds no secret.
    QString DbDriver;
    QString DbHost;
    qint32 DbPort = 0;
    QString DbName;
    QString DbUser;
    QString DbPasswordFile;
    // Where the first admin password is handed over; empty: initial-admin-password in the
    // application directory. Read, never written back.
    QString InitialPasswordFile;
    // Several instances behind a load balancer; read, never written back.
    QString InstanceName;     // this instance in the presence table; default "<host>:<TcpPort>"
    qint32 NetHttpPort2 = 0;  // the download port named in terminals' addresses; 0: HttpPort2
    quint32 TcpProxyProtocol = 0;  // 1: every terminal connection starts with a PROXY header
    // Comma-separated addresses or CIDR ranges of the balancers whose PROXY header is believed;
    // empty: loopback only. Read, never written back.
    QString TcpProxyTrusted;
    // Comma-separated addresses or CIDR ranges of the proxies whose X-Forwarded-For names the
    // client on the management port; empty: none, every client is its peer. Read only.
    QString HttpProxyTrusted;
    // SIGTERM stops taking terminals and closes them over this many seconds, waiting for
    // downloads in progress; 0: the process ends at once. Read, never written back.
    double DrainSeconds = 0;
    // Serial numbers never seen before that may become devices per minute, from one source
    // address and in all (0: no limit); read, never written back.
    static constexpr quint32 kDefaultRegistrationsPerMinutePerAddress = 600;
    static constexpr quint32 kDefaultRegistrationsPerMinute = 3000;
    quint32 RegistrationsPerMinutePerAddress = kDefaultRegistrationsPerMinutePerAddress;
    quint32 RegistrationsPerMinute = kDefaultRegistrationsPerMinute;
    // Writes of what terminals report that may wait while the database is away; read, never
    // written back.
    static constexpr quint32 kDefaultReportWriteQueueLimit = 100000;
    quint32 ReportWriteQueueLimit = kDefaultReportWriteQueueLimit;
    // Webhook deliveries (read, never written back): events waiting and deliveries under way, each
    // at most; attempts per delivery; the pause before the second attempt, doubled for each
    // further one; the time one attempt may take.
    quint32 WebhookQueueSize = 1000;
    quint32 WebhookAttempts = 5;
    double WebhookRetrySeconds = 5;
    double WebhookTimeoutSeconds = 10;

    // The service's own log; read, never written back. LogLevel: trace, debug, info (the
    // default), warning, error or critical. WFSLog files rotate at LogFileMaxMiB and at
    // midnight; the newest LogMaxFiles are kept, none older than LogRetentionDays (0: any age).
    QString LogLevel = QStringLiteral("info");
    quint32 LogFileMaxMiB = 2;
    quint32 LogMaxFiles = 100;
    quint32 LogRetentionDays = 0;
    // An instance silent for this long is gone: the others clear its terminals' presence. It
    // renews its own lease every third of it. Read, never written back.
    double InstanceLeaseSeconds = 60;

    // Behind a load balancer terminals download from its port, not from this instance's.
    qint32 downloadPortForTerminals() const { return NetHttpPort2 > 0 ? NetHttpPort2 : HttpPort2; }
};
