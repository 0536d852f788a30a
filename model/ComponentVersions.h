#pragma once

#include <QString>

#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"
#include "model/struUpgradeAttempt.h"

// One of the five component versions a terminal reports and a package carries.
struct ComponentVersion {
    const char* name;  // the field, column and filter name
    QString struDeviceInfo::*device;
    QString struPackageInfo::*package;
    QString struUpgradeAttempt::*before;  // the terminal's version when an upgrade started
    const char* label;                    // as the upgrade messages name the component
};

// The five, in the order of the device report and of the table's columns.
inline constexpr ComponentVersion kComponentVersions[] = {
    {"AppVersion", &struDeviceInfo::AppVersion, &struPackageInfo::AppVersion,
     &struUpgradeAttempt::fromAppVersion, "App"},
    {"McuVersion", &struDeviceInfo::McuVersion, &struPackageInfo::McuVersion,
     &struUpgradeAttempt::fromMcuVersion, "mcu"},
    {"FourGVersion", &struDeviceInfo::FourGVersion, &struPackageInfo::FourGVersion,
     &struUpgradeAttempt::fromFourGVersion, "4g"},
    {"GnssVersion", &struDeviceInfo::GnssVersion, &struPackageInfo::GnssVersion,
     &struUpgradeAttempt::fromGnssVersion, "GNSS"},
    {"SmartModule", &struDeviceInfo::SmartModule, &struPackageInfo::SmartModule,
     &struUpgradeAttempt::fromSmartModule, "智能模块"},
};
