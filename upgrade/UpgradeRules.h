#pragma once

#include <QString>

#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"

// The rules behind the upgrade decision: ordering a package's component version against the
// terminal's, and the download address of a package file.

// 1 when the package version p is newer than the device version d, -1 when older or either is
// empty, 0 when equal or undecided. Texts look like "V5.3.0 build220711": the leading letter is
// ignored, the dotted numbers are compared as numbers of any length, then the 6-digit build date.
int CompareVersion(const QString& p, const QString& d);

// "http://<netIP>:<httpPort2>/KORVA/dlPackage" + the path relative to packageDir with forward
// slashes. Counts every address formed (process-wide) and logs it.
QString GetPackageUrl(const QString& packagePath, const QString& packageDir, const QString& netIP,
                      int httpPort2);

// Whether a component the package carries (its version not empty) is newer than the terminal's,
// by CompareVersion: the version rule of the upgrade decision.
bool packageHasNewerComponent(const struDeviceInfo& device, const struPackageInfo& package);

// The same address, without counting or logging.
QString PackageUrl(const QString& packagePath, const QString& packageDir, const QString& netIP,
                   int httpPort2);
