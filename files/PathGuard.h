#pragma once

#include <QString>

// Checks for names and paths that arrive from terminals and browsers and are joined to the
// service's directories.

// Whether a name from a terminal or browser may become one component of a path: not empty, no
// separator ("/" or "\") or NUL, and not "." or "..". Dots inside a name ("a..b.log") escape
// nothing and are allowed. The one rule for every such name; callers do not add their own.
bool isPlainName(const QString& name);

// A name from a terminal made fit to be one path component, so that whatever it sent can be
// stored: "%", "/", "\", NUL and the other control characters become "%XX" (their code in
// hex), and "." and ".." become "%2E" and "%2E%2E". Distinct names stay distinct and plain names
// come back unchanged. The empty name becomes "%", which no other name gives.
QString safePathComponent(const QString& name);

// Whether path, with every link resolved, lies strictly under dir (also resolved). A path
// that does not exist yet is judged by its nearest existing ancestor and the rest of its text.
bool isInsideDirectory(const QString& path, const QString& dir);
