#pragma once

#include <QJsonObject>

#include "db/Tab_UpgradeAttempt.h"

// An upgrade attempt in the v2 documents: its stored columns and where it stands.
class UpgradeAttemptJson {
  public:
    static QJsonObject row(const Tab_UpgradeAttempt::Row& row);
    // The "UpgradeAttempt" schema, by name.
    static QJsonObject schemas();
};
