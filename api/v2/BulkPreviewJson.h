#pragma once

#include <QJsonObject>
#include <QList>

#include "db/DevicePackageCounts.h"
#include "model/struPackageInfo.h"

// What a bulk edit would take, as the confirmation shows it before anything is written.
class BulkPreviewJson {
  public:
    // forces: the edit sets the forced upgrade, so every terminal with a package is offered it.
    // typedAbove: past this many terminals the console asks for the count to be typed.
    static QJsonObject reply(const QList<DevicePackageCounts::Group>& groups,
                             const QList<struPackageInfo>& packages, bool forces, int typedAbove);
    // The "BulkPreview" and "BulkPreviewPackage" schemas.
    static QJsonObject schemas();
};
