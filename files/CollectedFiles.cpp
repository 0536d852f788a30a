#include "files/CollectedFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "files/PathGuard.h"

namespace {
QString directoryOf(const struLocalParam& param, int type) {
    const QString* const directories[] = {&param.DevLogDir, &param.DevIndexDir, &param.PrintDir,
                                          &param.RunInfoDir};
    return *directories[type];
}
}  // namespace

const QStringList& CollectedFiles::typeNames() {
    static const QStringList names{"log", "index", "print", "runInfo"};
    return names;
}

QList<CollectedFiles::Entry> CollectedFiles::list(const struLocalParam& param,
                                                  const QString& devSN) {
    QList<Entry> entries;
    if (!isPlainName(devSN)) return entries;
    for (int type = 0; type < typeNames().size(); ++type) {
        const QString root = directoryOf(param, type);
        const QDir terminal(root + QLatin1Char('/') + devSN);
        for (const QString& time :
             terminal.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed)) {
            const QDir report(terminal.filePath(time));
            for (const QFileInfo& file : report.entryInfoList(QDir::Files, QDir::Name)) {
                // Only what a download would serve.
                if (!isInsideDirectory(file.filePath(), root)) continue;
                entries << Entry{typeNames().at(type), time, file.fileName(), file.size(),
                                 file.lastModified().toSecsSinceEpoch()};
            }
        }
    }
    return entries;
}

QString CollectedFiles::path(const struLocalParam& param, const QString& devSN, const QString& type,
                             const QString& reportTime, const QString& name) {
    const int index = typeNames().indexOf(type);
    if (index < 0 || !isPlainName(devSN) || !isPlainName(reportTime) || !isPlainName(name))
        return QString();
    const QString root = directoryOf(param, index);
    const QString file =
        root + QLatin1Char('/') + devSN + QLatin1Char('/') + reportTime + QLatin1Char('/') + name;
    if (!QFileInfo(file).isFile() || !isInsideDirectory(file, root)) return QString();
    return file;
}
