// The text an operator reads for a decision: each component by the console's name and the
// relation of the package's version to the terminal's as it really is.
#include <gtest/gtest.h>

#include "upgrade/UpgradeDecision.h"

TEST(UpgradeDecision, DetailNamesTheComponentAndTheTrueRelation) {
    struct Case {
        QString struPackageInfo::*package;
        QString struDeviceInfo::*device;
        QString packageVersion;
        QString deviceVersion;
        bool offered;
        QString detail;
    } cases[] = {
        {&struPackageInfo::AppVersion, &struDeviceInfo::AppVersion, "V2.0 build220101",
         "V2.0 build220101", false,
         "升级包APP版本:V2.0 build220101 等于 终端APP版本:V2.0 build220101"},
        {&struPackageInfo::AppVersion, &struDeviceInfo::AppVersion, "V5.3", "V5.3.0", false,
         "升级包APP版本:V5.3 等于 终端APP版本:V5.3.0"},
        {&struPackageInfo::FourGVersion, &struDeviceInfo::FourGVersion, "V1.0", "V1.2", false,
         "升级包4G模块版本:V1.0 小于 终端4G模块版本:V1.2"},
        {&struPackageInfo::McuVersion, &struDeviceInfo::McuVersion, "V3.1", "V3.0", true,
         "升级包MCU版本:V3.1 大于 终端MCU版本:V3.0"},
        {&struPackageInfo::GnssVersion, &struDeviceInfo::GnssVersion, "V1.0", "", false,
         "升级包GNSS版本:V1.0，终端未上报GNSS版本"},
        {&struPackageInfo::SmartModule, &struDeviceInfo::SmartModule, "V9", "V9", false,
         "升级包智能模块版本:V9 等于 终端智能模块版本:V9"},
    };
    for (const Case& c : cases) {
        struPackageInfo package;
        package.packagePath = "/pkg/T1/a.bin";
        package.*c.package = c.packageVersion;
        struDeviceInfo device;
        device.*c.device = c.deviceVersion;
        DecisionFacts facts;
        facts.registered = true;
        facts.stored = &device;
        facts.report = &device;
        facts.hasPackage = true;
        facts.package = &package;
        facts.packageServable = true;
        const UpgradeDecision decision = decideUpgrade(facts, [] { return RolloutVerdict(); });
        EXPECT_EQ(decision.offered(), c.offered) << c.detail.toStdString();
        EXPECT_EQ(decision.detail.toStdString(), c.detail.toStdString());
    }
}
