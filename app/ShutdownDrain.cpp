#include "app/ShutdownDrain.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QDebug>
#include <QSocketNotifier>
#include <cmath>
#include <cstdlib>

#include "core/ConsoleControl.h"
#include "device/link/OrbTcpServer.h"

namespace {
constexpr int kStepMs = 100;
}

ShutdownDrain::ShutdownDrain(OrbTcpServer& terminals, std::function<int()> openDownloads,
                             double seconds)
    : m_terminals(terminals),
      m_openDownloads(std::move(openDownloads)),
      m_drainMs(static_cast<qint64>(seconds * 1000)) {
    m_steps.setInterval(kStepMs);
    connect(&m_steps, &QTimer::timeout, this, &ShutdownDrain::step);
}

ShutdownDrain::~ShutdownDrain() {
    deferTermination(-1);
    for (int fd : m_pipe)
        if (fd >= 0) ::close(fd);
}

bool ShutdownDrain::arm() {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    auto* notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false);
        begin();
    });
    deferTermination(m_pipe[1]);
    return true;
}

void ShutdownDrain::begin() {
    m_terminals.close();
    m_atStart = m_terminals.connectionCount();
    qInfo().nospace() << "[stop] SIGTERM: the terminal port takes no more connections; "
                      << m_atStart << " terminals are closed over " << m_drainMs / 2
                      << " ms and downloads may finish within " << m_drainMs << " ms";
    m_since.start();
    m_steps.start();
}

void ShutdownDrain::step() {
    const qint64 elapsed = m_since.elapsed();
    // Checked before closing more: the disconnects of the last step have been written by now.
    if (m_terminals.connectionCount() == 0 && m_openDownloads() == 0) finish("drained");
    if (elapsed >= m_drainMs) finish("drain time is up");
    // Connections that may still be open at this point of the first half, falling linearly.
    const double left = 1.0 - static_cast<double>(elapsed) / static_cast<double>(m_drainMs / 2);
    const int keep = static_cast<int>(std::ceil(m_atStart * qMax(0.0, left)));
    m_terminals.closeQuietest(m_terminals.connectionCount() - keep);
}

void ShutdownDrain::finish(const char* why) {
    qInfo().nospace() << "[stop] " << why << " after " << m_since.elapsed() << " ms; "
                      << m_terminals.connectionCount() << " terminals and " << m_openDownloads()
                      << " downloads still open";
    ::signal(SIGTERM, SIG_DFL);
    ::raise(SIGTERM);
    std::abort();  // not reached: SIGTERM is not blocked
}
