#pragma once

#include <QJsonObject>

#include "files/CollectedFiles.h"

// A file a terminal uploaded, in the v2 documents, with the path that downloads it.
class CollectedFileJson {
  public:
    static QJsonObject row(const QString& devSN, const CollectedFiles::Entry& entry);
    // The "CollectedFile" schema, by name.
    static QJsonObject schemas();
};
