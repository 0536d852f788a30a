#include "files/PackageFileCheck.h"

#include <QFileInfo>

PackageFileCheck::State PackageFileCheck::of(const struPackageInfo& package, qint64* size) {
    const QFileInfo file(package.packagePath);
    if (package.packagePath.isEmpty() || !file.isFile()) return State::Missing;
    if (size) *size = file.size();
    // The stored size keeps the low 32 bits of the announced one.
    return static_cast<qint32>(file.size() & 0xFFFFFFFF) == package.size ? State::Intact
                                                                         : State::Changed;
}
