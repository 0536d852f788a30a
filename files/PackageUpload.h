#pragma once

#include <QString>

// Where a package upload writes before its last block: a hidden file beside the package, on
// the same file system, so that the last block can rename it into place in one step. No
// package is ever stored under such a name, and nothing serves one.
class PackageUpload {
  public:
    // "<dir>/.<name>.part" for "<dir>/<name>".
    static QString tempPathFor(const QString& packageFile);
    // Whether a file name (without directory) is one of those temporary names.
    static bool isTempName(const QString& fileName);
};
