#include "tests/support/TerminalRun.h"

#include <QProcess>

#include "tests/support/ServiceProcess.h"

TerminalRun runTerminal(const QStringList& args, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(WAYFARER_TERMINAL), args);
    TerminalRun result;
    // Waiting with the event loop running keeps draining the service's output pipe: a full
    // pipe would stall the service's logging and with it the service.
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.output = QString::fromUtf8(process.readAll());
    return result;
}
