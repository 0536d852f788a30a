#pragma once

#include <functional>
#include <mutex>

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include "model/struPackageInfo.h"
#include "model/struRolloutPlan.h"
#include "notify/Notifier.h"
#include "upgrade/rollout/RolloutProgress.h"

// What the rollout supervisor tells admins: a plan paused or a stage opened, as it stores the
// change; a stage near its pause threshold and a plan with nothing left to do, once each (for
// this run of the service); terminals whose upgrade stalled, when a package has more than at
// the last look.
class RolloutNotices {
  public:
    explicit RolloutNotices(Notifier& notifier) : m_notifier(notifier) {}
    // Instances sharing a database see the same fleet: the notices of a look (threshold near,
    // plan finished, stalls) come from the instance speaks() names, not from every one.
    void setSpeaker(std::function<bool()> speaks) { m_speaks = std::move(speaks); }

    void changed(const struPackageInfo& package, const struRolloutPlan& before,
                 const struRolloutPlan& after);
    // A look at a running plan that changed nothing.
    void looked(const struPackageInfo& package, const struRolloutPlan& plan,
                const QVector<StageProgress>& stages);
    // Counts each package's stalled attempts.
    void countStalled(qint32 stalledBefore);

  private:
    Notifier& m_notifier;
    std::function<bool()> m_speaks;
    std::mutex m_mutex;            // guards m_told and m_stalled
    QSet<QString> m_told;          // near-threshold and finished notices given, by key
    QHash<qint32, int> m_stalled;  // stalled attempts at the last look, by package id
};
