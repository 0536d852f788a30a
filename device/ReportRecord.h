#pragma once

#include "codec/DeviceReport.h"
#include "model/struDeviceInfo.h"

// Writes what a report carries onto a terminal's record: its identity and its versions. The
// rest of the record (device ID, pending tasks, times) is the service's own and stays.
void applyReport(const DeviceReport& report, struDeviceInfo& device);

// What a report changes of the stored record, "AppVersion 1.0 -> 1.1; ..."; empty for nothing.
QString reportChanges(const struDeviceInfo& stored, const struDeviceInfo& reported);
