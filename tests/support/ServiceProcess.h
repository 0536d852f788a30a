#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// Any free TCP port on loopback (bound once, then released).
quint16 freePort();

// Waits, processing Qt events, until pred() holds or timeoutMs passes. Returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

// The real wayfarer executable, copied into a temporary application directory with its Web
// pages and a config.ini on free ports, started and stopped by the test.
class ServiceProcess {
  public:
    ServiceProcess();
    ~ServiceProcess();

    QString appDir() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // Keys of group LocalParam written before start; ports default to free ones.
    void setParam(const QString& key, const QVariant& value) { m_params[key] = value; }
    void writeConfig();  // config.ini from the keys set; start() does it
    quint16 tcpPort() const { return m_params.value("TcpPort").toUInt(); }
    quint16 httpPort() const { return m_params.value("HttpPort").toUInt(); }
    quint16 httpPort2() const { return m_params.value("HttpPort2").toUInt(); }
    // Program and arguments that run the executable (e.g. unshare --net --), which must exec it
    // so that the process ID stays the service's.
    void setLauncher(const QStringList& launcher) { m_launcher = launcher; }
    // Soft and hard limit on open files for the process (through prlimit); 0: inherited.
    void setOpenFileLimit(int limit) { m_openFileLimit = limit; }
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    // Writes config.ini (unless writeConfig is false), starts the process and waits until its
    // start-up has finished and, with waitForPorts, its TCP port accepts connections.
    // False when the process ended instead.
    bool start(bool writeConfig = true, bool waitForPorts = true);
    // start() in two halves, so that several services start together.
    bool launch(bool withConfig = true);
    bool waitUntilUp(bool waitForPorts = true);
    bool catchesSignal(int sig) const;  // the process has a handler installed for sig
    void sendSignal(int sig);
    bool waitForExit(int timeoutMs = 10000);
    bool running() const;
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    QByteArray output();  // stdout and stderr so far, of every start
    void stop();          // SIGKILL and wait

  private:
    QTemporaryDir m_dir;
    QMap<QString, QVariant> m_params;
    QStringList m_launcher;
    int m_openFileLimit = 0;
    std::unique_ptr<QProcess> m_process;
};
