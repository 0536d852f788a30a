#include "api/auth/DeviceIdView.h"

#include "model/DeviceIdMask.h"

bool DeviceIdView::seesWhole(Role role) {
    return role >= Role::Operator;
}

void DeviceIdView::apply(Role role, struDeviceInfo& device) {
    if (!seesWhole(role)) device.devId = DeviceIdMask::masked(device.devId);
}

void DeviceIdView::apply(Role role, QList<struDeviceInfo>& devices) {
    if (seesWhole(role)) return;
    for (struDeviceInfo& device : devices) apply(role, device);
}
