#include "core/DataLog.h"

#include <mutex>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Renames the current file aside with its time of rotation, then deletes the oldest files.
void rotate(const QDir& dir, const QString& current, int maxFiles) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd.hh-mm-ss-zzz"));
    QString aside = dir.filePath(QStringLiteral("Log-%1.txt").arg(stamp));
    for (int n = 1; QFile::exists(aside); ++n)
        aside = dir.filePath(QStringLiteral("Log-%1-%2.txt").arg(stamp).arg(n));
    QFile::rename(current, aside);

    // Oldest first by the time of their last line; the current file is begun afterwards and
    // counts among the files kept.
    QFileInfoList files =
        dir.entryInfoList({QStringLiteral("Log-*.txt")}, QDir::Files, QDir::Time | QDir::Reversed);
    while (files.size() > maxFiles - 1 && !files.isEmpty())
        QFile::remove(files.takeFirst().filePath());
}
}  // namespace

void writeDataLogTo(const QString& logDir, const QString& prefix, const QByteArray& data,
                    qint64 maxBytes, int maxFiles) {
    static std::mutex mutex;  // serialises whole lines and the rotation of the data log
    std::lock_guard<std::mutex> lock(mutex);

    const QDir dir(logDir);
    if (!dir.exists()) QDir().mkdir(logDir);
    const QString path =
        dir.filePath(QStringLiteral("Log-%1.txt")
                         .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    const QString line =
        QStringLiteral("[%1] %2: %3 ")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ddd")),
                 prefix, QString::fromLatin1(data.toHex()));
    const QByteArray bytes = line.toUtf8() + "\r\n";

    const qint64 size = QFileInfo(path).size();
    if (size > 0 && size + bytes.size() > maxBytes) rotate(dir, path, maxFiles);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    file.write(bytes);
    file.flush();
    file.close();
}

void writeDataLog(const QString& prefix, const QByteArray& data) {
    writeDataLogTo(QDir::currentPath() + QStringLiteral("/Logs"), prefix, data, kDataLogMaxBytes,
                   kDataLogMaxFiles);
}
