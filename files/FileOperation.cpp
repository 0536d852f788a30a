#include "files/FileOperation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QThread>

#include "core/DataLog.h"
#include "files/DeviceListCsv.h"
#include "files/DeviceListWorkbook.h"

namespace {

// The directory of fileName with only its last level created when missing: a package or
// import file goes under a directory whose parent the service made at start-up.
void makeLastDirLevel(const QString& fileName) {
    const QString dir = QFileInfo(fileName).absolutePath();
    if (!QDir(dir).exists()) QDir().mkdir(dir);
}

// Writes all of data and pushes it to the file, so a full disk shows up here and not as a
// silent loss at close.
bool writeAll(QFile& file, const QByteArray& data) {
    if (file.write(data) != data.size()) return false;
    return file.flush();
}

const QDir::Filters kCleanFilter =
    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::Readable | QDir::Writable;

}  // namespace

FileOperation* FileOperation::instance() {
    static FileOperation* const inst = new FileOperation;  // lives as long as the process
    return inst;
}

// No thread of its own: every caller calls the slots directly and wants the result at once,
// and nothing queues calls to this object, so a worker thread would only sit idle. The object
// still belongs to the main thread, whichever thread asked for it first (the start-up clean-up
// runs on the pool), so a queued connection made later would be served by the event loop.
FileOperation::FileOperation() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (thread() != app->thread()) moveToThread(app->thread());
    }
}

bool FileOperation::ImportExcelFile(const QString& fileName, const QByteArray& data) {
    if (fileName.isEmpty()) return false;
    makeLastDirLevel(fileName);

    QFile file(fileName);
    if (file.exists()) file.remove();
    if (!file.open(QIODevice::ReadWrite)) return false;
    const bool ok = writeAll(file, data);
    file.close();
    return ok;
}

bool FileOperation::DeleteExcel(const QString& fileName) {
    if (!QFile::exists(fileName)) return true;
    return QFile::remove(fileName);
}

bool FileOperation::WriteUpgradePackage(const QString& fileName, const QByteArray& data,
                                        bool bNewFile) {
    if (fileName.isEmpty() || data.isEmpty()) {
        qDebug("[WriteUpgradePackage] parameter error");
        return false;
    }
    makeLastDirLevel(fileName);

    QFile file(fileName);
    QIODevice::OpenMode mode = QIODevice::WriteOnly;
    if (bNewFile) {
        if (file.exists()) file.remove();
    } else {
        mode |= QIODevice::Append;
    }
    if (!file.open(mode)) return false;
    const bool ok = writeAll(file, data);
    file.close();
    return ok;
}

bool FileOperation::DeleteUpgradePackage(const QString& fileName) {
    if (fileName.isEmpty()) return false;
    return QFile::remove(fileName);
}

bool FileOperation::WriteDevUploadFile(const QString& fileName, const QByteArray& data,
                                       bool bNewFile) {
    const QString dir = QFileInfo(fileName).absolutePath();
    if (!QDir(dir).exists()) QDir().mkpath(dir);

    QFile file(fileName);
    bool ok = false;
    const QIODevice::OpenMode mode = bNewFile ? QIODevice::WriteOnly | QIODevice::Truncate
                                              : QIODevice::WriteOnly | QIODevice::Append;
    if (file.open(mode)) ok = writeAll(file, data);
    // Every chunk that arrived is recorded, written or not.
    writeDataLog(QStringLiteral("FileOperation::WriteDevUploadFile :") + fileName, data);
    file.close();
    return ok && !data.isEmpty();
}

bool FileOperation::ReadImportExcel(const QString& fileName, QList<struDeviceInfo>& outDevList) {
    return DeviceListWorkbook::read(fileName, outDevList);
}

bool FileOperation::WriteExcelFile(const QString& fileName, QList<struDeviceInfo> devList) {
    return DeviceListWorkbook::write(fileName, devList);
}

bool FileOperation::ReadImportCsv(const QString& fileName, QList<struDeviceInfo>& outDevList) {
    return DeviceListCsv::read(fileName, outDevList);
}

bool FileOperation::ReadImportCsv(const QString& fileName, QList<struDeviceInfo>& outDevList,
                                  const CsvLimits& limits) {
    return DeviceListCsv::read(fileName, outDevList, limits);
}

bool FileOperation::WriteCsvFile(const QString& fileName, QList<struDeviceInfo> devList) {
    return DeviceListCsv::write(fileName, devList);
}

bool FileOperation::removeFolderContent(const QString& folderDir) {
    const QDir root(folderDir);
    if (folderDir.isEmpty() || !root.exists()) return false;

    QList<QFileInfo> work = root.entryInfoList(kCleanFilter);
    QSet<QString> inWork;  // paths in work, for the "not yet listed" check
    QSet<QString> seen;    // every path ever listed, to tell progress from re-offers
    for (const QFileInfo& info : work) {
        inWork.insert(info.absoluteFilePath());
        seen.insert(info.absoluteFilePath());
    }

    while (!work.isEmpty()) {
        bool progress = false;
        for (int i = work.size() - 1; i >= 0; --i) {
            const QFileInfo entry = work.at(i);
            const QString path = entry.absoluteFilePath();
            // A link is removed as a link: following it would empty a directory elsewhere.
            if (entry.isSymLink() || !entry.isDir()) {
                if (QFile::remove(path)) progress = true;
                work.removeAt(i);
                inWork.remove(path);
                continue;
            }
            const QList<QFileInfo> children = QDir(path).entryInfoList(kCleanFilter);
            if (children.isEmpty()) {
                if (QDir().rmdir(path)) progress = true;
                work.removeAt(i);
                inWork.remove(path);
                continue;
            }
            // Appended entries are handled in the next pass, so a tree empties from the leaves.
            for (const QFileInfo& child : children) {
                const QString childPath = child.absoluteFilePath();
                if (inWork.contains(childPath)) continue;
                work.append(child);
                inWork.insert(childPath);
                if (!seen.contains(childPath)) {
                    seen.insert(childPath);
                    progress = true;
                }
            }
        }
        if (!progress) {
            qWarning().noquote() << QStringLiteral(
                                        "[removeFolderContent] %1 keeps entries that "
                                        "cannot be removed.")
                                        .arg(folderDir);
            return false;
        }
    }
    return true;
}
