#include "api/auth/DeviceIdView.h"

#include "model/DeviceIdMask.h"

bool DeviceIdView::seesWhole(Role role) {
    return role >= Role::Operator;
}

QString DeviceIdView::shown(Role role, const QString& devId) {
    return seesWhole(role) ? devId : DeviceIdMask::masked(devId);
}

void DeviceIdView::apply(Role role, struDeviceInfo& device) {
    device.devId = shown(role, device.devId);
}

void DeviceIdView::apply(Role role, QList<struDeviceInfo>& devices) {
    if (seesWhole(role)) return;
    for (struDeviceInfo& device : devices) apply(role, device);
}
