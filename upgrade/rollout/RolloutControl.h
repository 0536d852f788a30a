#pragma once

#include <functional>

#include <QList>
#include <QPair>
#include <QString>

#include "db/Tab_RolloutPlan.h"
#include "model/struPackageInfo.h"
#include "model/struRolloutPlan.h"
#include "upgrade/RolloutVerdict.h"

class RolloutNotices;

// Runs packages' rollout plans: the verdict at a report, the operators' changes and the
// supervisor's look at each plan. Every change is a conditional write of the stored plan, so
// the report path, the supervisor and operators on other threads never undo each other.
class RolloutControl {
  public:
    enum class Result { Done, NoPlan, Conflict, Failed };
    // Records an action the service took by itself in the audit trail.
    using AuditHook = std::function<void(const QString& action, const QString& summary)>;

    // The package's plan as it stands for the package's current upload: a plan stored for an
    // earlier upload of the same package row starts again from its first stage.
    static Tab_RolloutPlan::Result current(const struPackageInfo& package, struRolloutPlan& plan,
                                           qint32 now);
    // retryLimit: failed installs of the upload that hold the terminal back; 0 for no limit.
    static RolloutVerdict verdict(const struPackageInfo& package, const QString& devSN,
                                  int retryLimit);

    // A new plan for the package, running from its first stage; listed pairs serial numbers
    // with the position of the stage that lists them.
    static bool replace(const struPackageInfo& package, const struRolloutPlan& plan,
                        const QList<QPair<QString, int>>& listed, const QString& by);

    // Operators' changes; summary says what was done, or why not (Conflict).
    static Result resume(const struPackageInfo& package, qint32 stalledBefore, QString& summary);
    static Result advance(const struPackageInfo& package, QString& summary);
    static Result cancel(const struPackageInfo& package, QString& summary);
    // Holds the rollout where it is until resumed; by names the operator.
    static Result pause(const struPackageInfo& package, const QString& by, QString& summary);
    // When the plan may offer the package (see struRolloutPlan), without restarting it.
    static Result schedule(const struPackageInfo& package, const QString& windows, qint32 startAt,
                           QString& summary);
    // Lets a terminal held at the retry limit (or every held one, devSN empty) be offered the
    // package again; Conflict when the named terminal is not held.
    static Result release(const struPackageInfo& package, const QString& devSN, int retryLimit,
                          int& released, QString& summary);

    // Stores a restart for a new upload, pauses or opens the next stage, as the rules say, and
    // tells notices (when given) what it changed or saw.
    static void supervise(qint32 packageId, qint32 stalledBefore, const AuditHook& audit,
                          RolloutNotices* notices = nullptr);
};
