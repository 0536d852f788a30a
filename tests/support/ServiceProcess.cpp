#include "tests/support/ServiceProcess.h"

#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

quint16 freePort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return 0;
    return server.serverPort();
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

namespace {
void copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDir src(from);
    for (const QFileInfo& entry :
         src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (entry.isDir())
            copyTree(entry.filePath(), to + "/" + entry.fileName());
        else if (entry.fileName() != "CMakeLists.txt")
            QFile::copy(entry.filePath(), to + "/" + entry.fileName());
    }
}

bool portOpen(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}
}  // namespace

ServiceProcess::ServiceProcess() {
    m_params["TcpPort"] = freePort();
    m_params["HttpPort"] = freePort();
    m_params["HttpPort2"] = freePort();
    m_params["NetIP"] = "127.0.0.1";
    QFile::copy(QStringLiteral(WAYFARER_EXE), m_dir.filePath("wayfarer"));
    QFile::setPermissions(m_dir.filePath("wayfarer"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    copyTree(QStringLiteral(WAYFARER_PAGES_DIR), m_dir.filePath("Web"));
}

ServiceProcess::~ServiceProcess() {
    stop();
}

bool ServiceProcess::start(bool writeConfig, bool waitForPorts) {
    if (writeConfig) {
        QSettings settings(m_dir.filePath("config.ini"), QSettings::IniFormat);
        for (auto it = m_params.cbegin(); it != m_params.cend(); ++it)
            settings.setValue("LocalParam/" + it.key(), it.value());
    }
    m_process = std::make_unique<QProcess>();
    // A file, not a pipe: a test that blocks for a while must not stall the service's logging.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath("service-output.txt"), QIODevice::Append);
    m_process->setWorkingDirectory(m_dir.path());
    if (m_openFileLimit > 0)  // prlimit execs the service: the process is the same
        m_process->start(QStringLiteral("prlimit"),
                         {QStringLiteral("--nofile=%1:%1").arg(m_openFileLimit),
                          QStringLiteral("--"), m_dir.filePath("wayfarer")});
    else
        m_process->start(m_dir.filePath("wayfarer"), QStringList());
    if (!m_process->waitForStarted(5000)) return false;
    // Start-up installs its console-control handler last: from then on the service is up.
    if (!waitUntil([this] { return !running() || catchesSignal(SIGINT); }, 15000) || !running())
        return false;
    if (!waitForPorts) return true;
    return waitUntil([this] { return !running() || portOpen(tcpPort()); }, 15000) && running();
}

bool ServiceProcess::catchesSignal(int sig) const {
    if (!running()) return false;
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process->processId()));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const quint64 mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask & (1ull << (sig - 1)));
        }
    }
    return false;
}

void ServiceProcess::sendSignal(int sig) {
    if (m_process && m_process->processId() > 0) ::kill(m_process->processId(), sig);
}

bool ServiceProcess::waitForExit(int timeoutMs) {
    return !m_process || m_process->state() == QProcess::NotRunning ||
           m_process->waitForFinished(timeoutMs);
}

bool ServiceProcess::running() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

int ServiceProcess::exitCode() const {
    return m_process ? m_process->exitCode() : -1;
}

QProcess::ExitStatus ServiceProcess::exitStatus() const {
    return m_process ? m_process->exitStatus() : QProcess::CrashExit;
}

QByteArray ServiceProcess::output() {
    QFile file(m_dir.filePath("service-output.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ServiceProcess::stop() {
    if (!running()) return;
    m_process->kill();
    m_process->waitForFinished(5000);
}
