#pragma once

#include <QList>

#include "api/auth/Role.h"
#include "model/struDeviceInfo.h"

// A device ID is what a terminal proves itself with: whoever reads it whole can report as that
// terminal. Operators and above see it; a viewer sees it masked (DeviceIdMask) in the same place
// and shape, and cannot search or sort by it.
namespace DeviceIdView {
bool seesWhole(Role role);
// A device ID as the role may read it.
QString shown(Role role, const QString& devId);
// The record as the role may read it.
void apply(Role role, struDeviceInfo& device);
void apply(Role role, QList<struDeviceInfo>& devices);
}  // namespace DeviceIdView
