#pragma once

#include <QString>

// Writes one "<GUID>.dmp" per crash (signal, fault address, backtrace) into dumpDir, then lets
// the process die by the original signal. Returns false when the handler cannot be installed.
bool installCrashHandler(const QString& dumpDir);
