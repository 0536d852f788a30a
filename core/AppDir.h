#pragma once

#include <QString>

// The directory of the running executable: every path of the service is built from it.
// Native separators, no trailing separator.
QString applicationDirectory();

// Tests that run the service's parts in-process point them at a temporary directory.
// Must be called before the first part that reads the application directory is made.
void setApplicationDirectoryForTesting(const QString& dir);
