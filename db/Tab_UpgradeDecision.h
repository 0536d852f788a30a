#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include "db/KeyedRecord.h"
#include "db/RecordColumns.h"
#include "model/struUpgradeDecision.h"

// Tab_UpgradeDecision: the last upgrade decision of each terminal, written at every report.
// Holds no state; every operation borrows a pooled connection.
class Tab_UpgradeDecision {
  public:
    using Result = KeyedRecord::Result;

    static const RecordColumns<struUpgradeDecision>& columns();

    static bool record(const struUpgradeDecision& decision);
    static Result get(const QString& devSN, struUpgradeDecision& decision);
    // Per reason code, the terminals whose last report, of that device type, was decided so.
    static bool countByReason(const QString& devType, QList<QPair<QString, int>>& counts);
};
