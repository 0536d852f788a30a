#pragma once

#include <QString>

// Whether a terminal's last report was offered its type's package, and why: the row of
// Tab_UpgradeDecision, one per serial number.
struct struUpgradeDecision {
    QString devSN;
    qint32 decidedAt = 0;  // seconds since the epoch
    QString devType;       // as reported
    qint32 packageId = 0;  // 0 when the type had no package
    QString packageName;
    bool offered = false;
    QString reason;  // a decision reason code
    QString detail;
};
