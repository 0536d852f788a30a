#include "core/AppDir.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString& overrideDir() {
    static QString dir;
    return dir;
}
}  // namespace

QString applicationDirectory() {
    if (!overrideDir().isEmpty()) return overrideDir();
    // Resolve symlinks so a linked executable still finds its own config.ini and Web/.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QString dir = QFileInfo(exe).absolutePath();
    dir = QDir::toNativeSeparators(QDir::cleanPath(dir));
    while (dir.size() > 1 && dir.endsWith(QDir::separator())) dir.chop(1);
    return dir;
}

void setApplicationDirectoryForTesting(const QString& dir) {
    overrideDir() = QDir::toNativeSeparators(QDir::cleanPath(dir));
}
