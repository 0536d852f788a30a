#include "upgrade/UpgradeDecision.h"

#include "core/Logger.h"
#include "model/ComponentVersions.h"
#include "upgrade/UpgradeRules.h"

namespace {
// The order in which components decide an upgrade: the first newer one is named.
const ComponentVersion* const kDecisionOrder[] = {&kComponentVersions[0], &kComponentVersions[2],
                                                  &kComponentVersions[1], &kComponentVersions[3],
                                                  &kComponentVersions[4]};

// The log's line for a component that is not newer, worded as it always was.
QString notNewerLogLine(const ComponentVersion& step, const QString& p, const QString& d) {
    return QStringLiteral("升级包%1版本:%2 小于 设备%1版本:%3")
        .arg(QString::fromUtf8(step.label), p, d);
}

// The decision's text for the operator: the component as the console names it and the true
// relation of the package's version to the terminal's.
QString versionDetail(const ComponentVersion& step, const QString& p, const QString& d) {
    const QString title = QString::fromUtf8(step.title);
    if (d.isEmpty()) return QStringLiteral("升级包%1:%2，终端未上报%1").arg(title, p);
    const char* relation = "等于";
    if (CompareVersion(p, d) > 0)
        relation = "大于";
    else if (CompareVersion(d, p) > 0)
        relation = "小于";
    return QStringLiteral("升级包%1:%2 %3 终端%1:%4").arg(title, p, QString::fromUtf8(relation), d);
}

UpgradeDecision decided(UpgradeDecision::Answer answer, DecisionReason reason,
                        const QString& detail = QString()) {
    UpgradeDecision decision;
    decision.answer = answer;
    decision.reason = reason;
    decision.detail = detail;
    return decision;
}

DecisionReason reasonOf(RolloutVerdict::Kind kind) {
    switch (kind) {
        case RolloutVerdict::Kind::Paused:
            return DecisionReason::RolloutPaused;
        case RolloutVerdict::Kind::Cancelled:
            return DecisionReason::RolloutCancelled;
        case RolloutVerdict::Kind::Unavailable:
            return DecisionReason::RolloutUnavailable;
        case RolloutVerdict::Kind::OutsideWindow:
            return DecisionReason::OutsideWindow;
        case RolloutVerdict::Kind::RetryLimit:
            return DecisionReason::RetryLimit;
        default:
            return DecisionReason::NotInOpenStage;
    }
}
}  // namespace

UpgradeDecision decideUpgrade(const DecisionFacts& facts,
                              const std::function<RolloutVerdict()>& rollout) {
    using A = UpgradeDecision::Answer;
    const struPackageInfo& package = *facts.package;
    const DecisionReason missing =
        facts.hasPackage ? DecisionReason::PackageFileMissing : DecisionReason::NoPackage;
    if (!facts.registered && (!facts.hasPackage || package.packagePath.isEmpty()))
        return decided(A::NoUpgrade, missing);
    if (!facts.hasPackage || package.packagePath.isEmpty() || !facts.packageServable)
        return decided(A::PendingTasks, missing);
    if (facts.registered && facts.stored->isAutoUpdate)
        return decided(A::Upgrade, DecisionReason::Forced);
    if (facts.manualMode) return decided(A::NoUpgrade, DecisionReason::ManualMode);

    QStringList notNewer;
    for (const ComponentVersion* step : kDecisionOrder) {
        const QString& packageVersion = package.*step->package;
        if (packageVersion.isEmpty()) continue;
        const QString& deviceVersion = facts.report->*step->device;
        if (CompareVersion(packageVersion, deviceVersion) > 0) {
            const RolloutVerdict verdict = rollout();
            if (!verdict.offers())
                return decided(A::PendingTasks, reasonOf(verdict.kind), verdict.detail);
            return decided(A::Upgrade, DecisionReason::NewerComponent,
                           versionDetail(*step, packageVersion, deviceVersion));
        }
        notNewer << versionDetail(*step, packageVersion, deviceVersion);
        // Every idle report of a fleet comes here: its lines are details, for the debug level.
        const auto log = getLogger("TcpDataMgtApi");
        if (log->should_log(spdlog::level::debug))
            log->debug("{}, {}", "TcpDataMgtApi::readDataSlot",
                       notNewerLogLine(*step, packageVersion, deviceVersion).toStdString());
    }
    return decided(A::PendingTasks, DecisionReason::NotNewer, notNewer.join(QLatin1Char('\n')));
}
