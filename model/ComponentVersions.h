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
    const char* label;                    // as the log's upgrade messages name the component
    const char* title;                    // as the console names it to an operator
};

// The five, in the order of the device report and of the table's columns.
inline constexpr ComponentVersion kComponentVersions[] = {
    {"AppVersion", &struDeviceInfo::AppVersion, &struPackageInfo::AppVersion,
     &struUpgradeAttempt::fromAppVersion, "App", "APP版本"},
    {"McuVersion", &struDeviceInfo::McuVersion, &struPackageInfo::McuVersion,
     &struUpgradeAttempt::fromMcuVersion, "mcu", "MCU版本"},
    {"FourGVersion", &struDeviceInfo::FourGVersion, &struPackageInfo::FourGVersion,
     &struUpgradeAttempt::fromFourGVersion, "4g", "4G模块版本"},
    {"GnssVersion", &struDeviceInfo::GnssVersion, &struPackageInfo::GnssVersion,
     &struUpgradeAttempt::fromGnssVersion, "GNSS", "GNSS版本"},
    {"SmartModule", &struDeviceInfo::SmartModule, &struPackageInfo::SmartModule,
     &struUpgradeAttempt::fromSmartModule, "智能模块", "智能模块版本"},
};
