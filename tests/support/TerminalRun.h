#pragma once

#include <QString>
#include <QStringList>

// The terminal simulator played to its end: its exit code (-1 when it was killed at the time
// limit or crashed) and all it printed.
struct TerminalRun {
    int exitCode = -1;
    QString output;
};

TerminalRun runTerminal(const QStringList& args, int timeoutMs = 30000);
