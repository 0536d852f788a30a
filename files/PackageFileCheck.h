#pragma once

#include <QtGlobal>

#include "model/struPackageInfo.h"

// Whether a package's file is still as uploaded: there, with the stored size (a stat, not a
// hash). Checked before a package is offered and before it is served.
class PackageFileCheck {
  public:
    enum class State { Intact, Missing, Changed };
    // size, when given, receives the file's size.
    static State of(const struPackageInfo& package, qint64* size = nullptr);
};
