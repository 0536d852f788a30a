#pragma once

#include <QString>

// Checks for names and paths that arrive from terminals and browsers and are joined to the
// service's directories.

// A single file or directory name: not empty, no separator ("/" or "\"), not "." or "..".
bool isPlainName(const QString& name);

// Whether path, with every link resolved, lies strictly under dir (also resolved). A path
// that does not exist yet is judged by its nearest existing ancestor and the rest of its text.
bool isInsideDirectory(const QString& path, const QString& dir);
