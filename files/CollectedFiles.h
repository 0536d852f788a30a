#pragma once

#include <QList>
#include <QString>

#include "core/struLocalParam.h"

// The files terminals uploaded, as the store keeps them: <type directory>/<serial number>/
// <report time yyyyMMddHHmm>/<name>. Every name from a request is checked before it becomes
// part of a path, and a path that leads out of the store is refused.
class CollectedFiles {
  public:
    struct Entry {
        QString type;        // "log", "index", "print" or "runInfo"
        QString reportTime;  // the directory of the report that asked for it
        QString name;
        qint64 size = 0;
        qint64 modified = 0;  // seconds since the epoch
    };

    // In the order of the terminal's file types (1 to 4).
    static const QStringList& typeNames();

    // Newest report first within each type.
    static QList<Entry> list(const struLocalParam& param, const QString& devSN);
    // The stored file, or empty when a part is not a plain name, the type is unknown, the file
    // is missing or it lies outside its type's directory.
    static QString path(const struLocalParam& param, const QString& devSN, const QString& type,
                        const QString& reportTime, const QString& name);
};
