#include "device/ReportRecord.h"

void applyReport(const DeviceReport& report, struDeviceInfo& device) {
    device.devSN = report.devSN;
    device.devType = report.devType;
    device.LicensePlateNumber = report.LicensePlateNumber;
    device.PhoneNumber = report.PhoneNumber;
    device.AppVersion = report.AppVersion;
    device.McuVersion = report.McuVersion;
    device.FourGVersion = report.FourGVersion;
    device.GnssVersion = report.GnssVersion;
    device.SmartModule = report.SmartModule;
    device.Reserve = report.Reserve;
}
