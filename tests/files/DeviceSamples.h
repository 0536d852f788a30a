#pragma once

#include <QString>

#include "model/struDeviceInfo.h"

// A terminal with every exchanged text column filled from its serial number.
inline struDeviceInfo sampleDevice(const QString& sn) {
    struDeviceInfo d;
    d.devId = "ID-" + sn;
    d.devSN = sn;
    d.devType = "T1";
    d.LicensePlateNumber = "京A" + sn;
    d.PhoneNumber = "138" + sn;
    d.AppVersion = "A1.0";
    d.McuVersion = "M1.0";
    d.FourGVersion = "F1.0";
    d.GnssVersion = "G1.0";
    d.SmartModule = "S1.0";
    d.ConfigCmd = "cmd " + sn;
    return d;
}
