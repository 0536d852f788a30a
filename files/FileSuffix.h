#pragma once

#include <QString>

// Text after the last "." of the last path component ("" when it has no dot). Both "/" and
// "\" end a component, since the names come from Windows hosts and browsers alike.
QString fileSuffix(const QString& fileName);
