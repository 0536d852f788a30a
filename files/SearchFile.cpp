#include "files/SearchFile.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include "files/PathGuard.h"

namespace {

// A name that could address something outside the searched directory: request paths from
// the web reach this function unfiltered.
bool climbsOut(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) return true;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) return true;  // drive letter
    // Empty and "." steps stay where they are; every other step must be a usable name.
    for (const QString& part : name.split(QLatin1Char('/')))
        if (!part.isEmpty() && part != QLatin1String(".") && !isPlainName(part)) return true;
    return false;
}

void logFound(const QString& path) {
    qInfo().noquote() << QStringLiteral("[searchFile] file ") + path + QStringLiteral(" exist.");
}

}  // namespace

bool searchFile(const QString& dir, const QString& fileName, QString& outPath, bool recursive) {
    QString d = dir;
    d.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!QDir(d).exists()) {
        qWarning().noquote() << QStringLiteral("[searchFile] dir ") + dir +
                                    QStringLiteral(" not exist.");
        return false;
    }
    if (!d.endsWith(QLatin1Char('/'))) d += QLatin1Char('/');
    QString n = fileName;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (n.startsWith(QLatin1Char('/'))) n.remove(0, 1);

    const bool allowed = !n.isEmpty() && !climbsOut(n);

    const QString direct = d + n;
    if (allowed && QFileInfo(direct).isFile() && isInsideDirectory(direct, d)) {
        outPath = direct;
        logFound(outPath);
        return true;
    }

    if (!recursive) {
        qWarning().noquote() << QStringLiteral("[searchFile] file ") + d + n +
                                    QStringLiteral(" not exist.");
        return false;
    }

    if (allowed) {
        QDirIterator it(d, QStringList{n}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            if (!info.isFile() || !isInsideDirectory(info.absoluteFilePath(), d)) continue;
            outPath = info.absoluteFilePath();
            logFound(outPath);
            return true;
        }
    }
    qWarning().noquote() << QStringLiteral("[searchFile] dir ") + d + QStringLiteral(" and file ") +
                                n + QStringLiteral(" not exist.");
    return false;
}
