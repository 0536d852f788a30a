#pragma once

#include <QString>

// The query fields of one package-upload block. A fresh record has empty texts and zeros.
struct struUploadParam {
    QString name;
    QString app;
    QString mcu;
    QString fourG;
    QString gnss;
    QString smart;
    QString type;
    qint32 blockIndex = 0;
    qint32 blockSize = 0;  // number of blocks of the whole upload, not bytes
    quint64 totalLength = 0;
    QString uploadTime;
};
