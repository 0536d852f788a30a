#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "model/struDeviceInfo.h"

// Tab_DeviceInfo: one row per terminal, looked up by devSN. Holds no state; every operation
// borrows a pooled connection for its statements.
class Tab_DeviceInfo : public QObject {
    Q_OBJECT
  public:
    explicit Tab_DeviceInfo(QObject* parent = nullptr) : QObject(parent) {}

    bool insertDevice(const struDeviceInfo& device);
    // Inserts a new devSN or updates its row; UpgradeCompletionTime is never written.
    bool saveDevice(const struDeviceInfo& device);
    bool getAllDevices(QList<struDeviceInfo>& devices);
    // Empty filters are left out; both empty lists every row.
    bool queryDevices(QList<struDeviceInfo>& devices, const QString& devSN,
                      const QString& PhoneNumber);
    bool getDeviceBySN(struDeviceInfo& device, const QString& devSN);
    bool clearAutoUpdate();
    bool updateDevice(const struDeviceInfo& device);
};
