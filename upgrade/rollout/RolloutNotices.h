#pragma once

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

    void changed(const struPackageInfo& package, const struRolloutPlan& before,
                 const struRolloutPlan& after);
    // A look at a running plan that changed nothing.
    void looked(const struPackageInfo& package, const struRolloutPlan& plan,
                const QVector<StageProgress>& stages);
    // Counts each package's stalled attempts.
    void countStalled(qint32 stalledBefore);

  private:
    Notifier& m_notifier;
    std::mutex m_mutex;            // guards m_told and m_stalled
    QSet<QString> m_told;          // near-threshold and finished notices given, by key
    QHash<qint32, int> m_stalled;  // stalled attempts at the last look, by package id
};
