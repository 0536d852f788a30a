#include "core/DataLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

void writeDataLog(const QString& prefix, const QByteArray& data) {
    static QMutex mutex;  // serialises whole lines of the data log
    QMutexLocker lock(&mutex);

    const QString path =
        QStringLiteral("%1/Logs/Log-%2.txt")
            .arg(QDir::currentPath(), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    const QFileInfo info(path);
    if (!info.dir().exists()) QDir().mkdir(info.absolutePath());

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    const QString line =
        QStringLiteral("[%1] %2: %3 ")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ddd")),
                 prefix, QString::fromLatin1(data.toHex()));
    file.write(line.toUtf8());
    file.write("\r\n");
    file.flush();
    file.close();
}
