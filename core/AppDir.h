#pragma once

#include <QString>

// The directory of the running executable: every path of the service is built from it.
// Native separators, no trailing separator.
QString applicationDirectory();

// Tests that exercise the singletons in-process point them at a temporary directory.
// Must be called before the first singleton that reads the application directory is created.
void setApplicationDirectoryForTesting(const QString& dir);
