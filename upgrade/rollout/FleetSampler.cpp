#include "upgrade/rollout/FleetSampler.h"

#include <algorithm>

#include <QDateTime>
#include <QtConcurrent>

#include "core/Logger.h"
#include "db/FleetCounts.h"
#include "db/Tab_FleetSample.h"
#include "db/Tab_Package.h"
#include "db/Tab_RolloutPlan.h"
#include "upgrade/rollout/RolloutControl.h"
#include "upgrade/rollout/RolloutProgress.h"

namespace {
// A running rollout's terminals in its stages, succeeded and failed; false when not running.
bool rolloutSample(qint32 packageId, qint32 now, qint32 stalledBefore, struFleetSample& sample) {
    struPackageInfo package;
    struRolloutPlan plan;
    if (!Tab_Package().getPackageById(packageId, package) ||
        RolloutControl::current(package, plan, now) != Tab_RolloutPlan::Result::Done ||
        plan.state != QLatin1String(kRolloutRunning))
        return false;
    QVector<StageProgress> stages;
    int outside = 0;
    if (!RolloutProgress::count(plan, package, stalledBefore, stages, outside)) return false;
    sample.series = QLatin1String(kSeriesRolloutPrefix) + QString::number(packageId);
    sample.label = package.packageName;
    for (const StageProgress& stage : stages) {
        sample.done += stage.succeeded;
        sample.failed += stage.failed;
        sample.total += stage.members;
    }
    return true;
}
}  // namespace

FleetSampler::FleetSampler(double periodSeconds, double keepDays, double stallMinutes,
                           QObject* parent)
    : QObject(parent),
      m_period(std::max(1, static_cast<int>(periodSeconds))),
      m_keepSeconds(static_cast<qint32>(keepDays * 86400)),
      m_stallSeconds(static_cast<qint32>(stallMinutes * 60)) {
    m_timer.setInterval(m_period * 1000);
    connect(&m_timer, &QTimer::timeout, this, &FleetSampler::sample);
}

FleetSampler::~FleetSampler() {
    m_timer.stop();
    m_sample.waitForFinished();
}

void FleetSampler::start() {
    m_timer.start();
    sample();
}

void FleetSampler::sample() {
    if (m_sampling.exchange(true)) return;
    m_sample = QtConcurrent::run([this] {
        const auto now = static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
        const qint32 period = now - now % m_period;
        bool taken = false;
        if (Tab_FleetSample::has(period, QLatin1String(kSeriesOnline), taken) && !taken) {
            QList<struFleetSample> samples;
            struFleetSample online;
            online.series = QLatin1String(kSeriesOnline);
            if (FleetCounts::terminals(online.done, online.total)) samples << online;
            QList<qint32> packageIds;
            if (Tab_RolloutPlan::packageIds(packageIds))
                for (qint32 packageId : packageIds) {
                    struFleetSample rollout;
                    if (rolloutSample(packageId, now, now - m_stallSeconds, rollout))
                        samples << rollout;
                }
            for (struFleetSample& sample : samples) sample.periodStart = period;
            if (!Tab_FleetSample::recordAbsent(samples) ||
                !Tab_FleetSample::removeBefore(now - m_keepSeconds))
                getLogger("FleetSampler")
                    ->info("{}, fleet sample not written", "FleetSampler::sample");
        }
        m_sampling = false;
    });
}
