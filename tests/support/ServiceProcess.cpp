#include "tests/support/ServiceProcess.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <random>
#include <string>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QTcpSocket>
#include <QThread>

namespace {
// An abstract Unix socket name per port, held until the process ends: no other test process
// takes the port meanwhile, and the kernel lets the name go with the process. -1 when taken.
int reservePort(quint16 port) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "wayfarer-test-port-" + std::to_string(port);
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // leading NUL: abstract
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return fd;
    ::close(fd);
    return -1;
}

// Bound as the service binds, on every address and without SO_REUSEADDR: a port that a
// connection in TIME_WAIT still holds would fail the service's own bind.
bool bindsAsTheServiceWould(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}
}  // namespace

// Below the kernel's ephemeral range (from 32768), so no outgoing connection takes the port
// between this check and the server's bind; reserved for this process, bound yet or not.
quint16 freePort() {
    static std::mutex mutex;
    static std::mt19937 random(std::random_device{}());
    std::lock_guard<std::mutex> lock(mutex);
    std::uniform_int_distribution<int> pick(12000, 19999);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const quint16 port = static_cast<quint16>(pick(random));
        const int reservation = reservePort(port);
        if (reservation < 0) continue;
        if (bindsAsTheServiceWould(port)) return port;
        ::close(reservation);
    }
    return 0;
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
    // The tests of the routes themselves run as before logins existed; those of the logins
    // switch them on.
    m_params["OperatorLogin"] = 0;
    QFile::copy(QStringLiteral(WAYFARER_EXE), m_dir.filePath("wayfarer"));
    QFile::setPermissions(m_dir.filePath("wayfarer"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    copyTree(QStringLiteral(WAYFARER_PAGES_DIR), m_dir.filePath("Web"));
}

ServiceProcess::~ServiceProcess() {
    stop();
}

bool ServiceProcess::start(bool writeConfig, bool waitForPorts) {
    return launch(writeConfig) && waitUntilUp(waitForPorts);
}

void ServiceProcess::writeConfig() {
    QSettings settings(m_dir.filePath("config.ini"), QSettings::IniFormat);
    for (auto it = m_params.cbegin(); it != m_params.cend(); ++it)
        settings.setValue("LocalParam/" + it.key(), it.value());
}

bool ServiceProcess::launch(bool withConfig) {
    if (withConfig) writeConfig();
    m_process = std::make_unique<QProcess>();
    // A file, not a pipe: a test that blocks for a while must not stall the service's logging.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath("service-output.txt"), QIODevice::Append);
    m_process->setWorkingDirectory(m_dir.path());
    QStringList command;
    if (m_openFileLimit > 0)  // prlimit execs what follows: the process stays the service
        command << QStringLiteral("prlimit")
                << QStringLiteral("--nofile=%1:%1").arg(m_openFileLimit) << QStringLiteral("--");
    command << m_launcher << m_dir.filePath("wayfarer");
    m_process->start(command.first(), command.mid(1));
    return m_process->waitForStarted(5000);
}

bool ServiceProcess::waitUntilUp(bool waitForPorts) {
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
