#pragma once

#include <QString>

// Checks for names and paths that arrive from terminals and browsers and are joined to the
// service's directories.

// Whether a name from a terminal or browser may become one component of a path: not empty, no
// separator ("/" or "\") or NUL, and not "." or "..". Dots inside a name ("a..b.log") escape
// nothing and are allowed. The one rule for every such name; callers do not add their own.
bool isPlainName(const QString& name);

// Whether path, with every link resolved, lies strictly under dir (also resolved). A path
// that does not exist yet is judged by its nearest existing ancestor and the rest of its text.
bool isInsideDirectory(const QString& path, const QString& dir);
