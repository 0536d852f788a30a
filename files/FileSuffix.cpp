#include "files/FileSuffix.h"

QString fileSuffix(const QString& fileName) {
    const int slash =
        qMax(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\')));
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash) return QString();
    return fileName.mid(dot + 1);
}
