#pragma once

#include <QString>

// Finds the file fileName (may hold a relative path) under dir: first dir + fileName, then,
// when recursive, the first file of that name in any subdirectory. On success outPath holds
// the path found. Never answers with a path outside dir: names that climb out with ".." or
// are absolute, and links that lead outside, find nothing.
bool searchFile(const QString& dir, const QString& fileName, QString& outPath, bool recursive);
