#include "files/PackageUpload.h"

#include <QFileInfo>

namespace {
const QString kSuffix = QStringLiteral(".part");
}  // namespace

QString PackageUpload::tempPathFor(const QString& packageFile) {
    const QFileInfo info(packageFile);
    return info.path() + QLatin1String("/.") + info.fileName() + kSuffix;
}

bool PackageUpload::isTempName(const QString& fileName) {
    return fileName.startsWith(QLatin1Char('.')) && fileName.endsWith(kSuffix);
}
