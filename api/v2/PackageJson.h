#pragma once

#include <QJsonObject>

#include "model/struPackageInfo.h"

// An upgrade package in the v2 documents: everything the package list has always shown, with
// the stored name, the times as seconds since the epoch and whether its file is there.
class PackageJson {
  public:
    static QJsonObject row(const struPackageInfo& package);
    // The "Package" schema, by name.
    static QJsonObject schemas();
};
