#include "files/FileOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <QDateTime>
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
#include "files/PackageUpload.h"

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

bool writeAllTo(int fd, const QByteArray& data) {
    const char* at = data.constData();
    size_t left = static_cast<size_t>(data.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, at, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        at += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

// A package file opened for writing without following a link: a link in its place, or as its
// directory, would carry the write outside the package directory. -1 when refused.
int openPackageFile(const QString& fileName, bool fresh) {
    const QByteArray path = QFile::encodeName(fileName);
    struct stat dir;
    if (::lstat(QFile::encodeName(QFileInfo(fileName).absolutePath()).constData(), &dir) != 0 ||
        !S_ISDIR(dir.st_mode)) {
        qDebug("[WriteUpgradePackage] the directory is missing or a link");
        return -1;
    }
    // A new file rather than the old one truncated: whoever has the old one open keeps it.
    if (fresh && ::unlink(path.constData()) != 0 && errno != ENOENT) return -1;
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fresh ? O_EXCL : O_APPEND);
    const int fd = ::open(path.constData(), flags, 0644);
    if (fd < 0 && errno == ELOOP) qDebug("[WriteUpgradePackage] the file is a link");
    return fd;
}

// Writes one block; offset receives where it went in the file.
bool writePackageBlock(const QString& fileName, const QByteArray& data, bool fresh,
                       qint64& offset) {
    makeLastDirLevel(fileName);
    const int fd = openPackageFile(fileName, fresh);
    if (fd < 0) return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && writeAllTo(fd, data);
    offset = st.st_size;
    ::close(fd);
    return ok;
}

const QDir::Filters kCleanFilter =
    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::Readable | QDir::Writable;

}  // namespace

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
    qint64 offset = 0;
    return writePackageBlock(fileName, data, bNewFile, offset);
}

bool FileOperation::WriteUploadBlock(const QString& packageFile, const QByteArray& data,
                                     bool first) {
    if (packageFile.isEmpty() || data.isEmpty()) {
        qDebug("[WriteUpgradePackage] parameter error");
        return false;
    }
    const QString temp = PackageUpload::tempPathFor(packageFile);
    // A later block without its file: the upload's beginning is gone (removed as stale).
    if (!first && !QFileInfo::exists(temp)) return false;
    qint64 offset = 0;
    if (!writePackageBlock(temp, data, first, offset)) return false;
    m_digests.add(temp, offset, data);
    return true;
}

bool FileOperation::CommitUpload(const QString& packageFile, qint64 announcedSize,
                                 QByteArray& sha256) {
    const QString temp = PackageUpload::tempPathFor(packageFile);
    const QByteArray tempPath = QFile::encodeName(temp);
    const int fd = ::open(tempPath.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (st.st_size != announcedSize) {
        qDebug("[CommitUpload] the blocks make %lld bytes, not the %lld announced",
               static_cast<long long>(st.st_size), static_cast<long long>(announcedSize));
        ::close(fd);
        ::unlink(tempPath.constData());
        m_digests.forget(temp);
        return false;
    }
    sha256 = m_digests.finish(temp, st.st_size, fd);
    // On disk before it replaces the package: a crash leaves the old package or the new one.
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (sha256.isEmpty() || !synced ||
        ::rename(tempPath.constData(), QFile::encodeName(packageFile).constData()) != 0) {
        qDebug("[CommitUpload] cannot put the package in place");
        return false;
    }
    return true;
}

void FileOperation::RemoveStaleUploads(const QString& packageDir, qint64 maxAgeSecs) {
    const QDateTime before = QDateTime::currentDateTime().addSecs(-maxAgeSecs);
    const QDir root(packageDir);
    for (const QFileInfo& type :
         root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden)) {
        const QDir dir(type.absoluteFilePath());
        for (const QFileInfo& file :
             dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::System)) {
            if (PackageUpload::isTempName(file.fileName()) && file.lastModified() < before)
                QFile::remove(file.absoluteFilePath());
        }
    }
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
    return ok;
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
