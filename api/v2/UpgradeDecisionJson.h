#pragma once

#include <QJsonObject>

#include "model/struUpgradeDecision.h"

// A terminal's last upgrade decision in the v2 documents, written from the table's columns.
class UpgradeDecisionJson {
  public:
    static QJsonObject row(const struUpgradeDecision& decision);
    // The "UpgradeDecision" schema, by name, with the reason codes and their meanings.
    static QJsonObject schemas();
    // Every reason code, in order.
    static QStringList reasonCodes();
};
