#pragma once

#include "codec/DeviceReport.h"
#include "model/struDeviceInfo.h"

// Writes what a report carries onto a terminal's record: its identity and its versions. The
// rest of the record (device ID, pending tasks, times) is the service's own and stays.
void applyReport(const DeviceReport& report, struDeviceInfo& device);
