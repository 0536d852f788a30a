#include "device/ReportRecord.h"

#include <QStringList>

#include "model/ComponentVersions.h"

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

QString reportChanges(const struDeviceInfo& stored, const struDeviceInfo& reported) {
    QStringList changes;
    const auto compare = [&changes](const char* name, const QString& was, const QString& is) {
        if (was != is) changes << QStringLiteral("%1 %2 -> %3").arg(QLatin1String(name), was, is);
    };
    compare("devType", stored.devType, reported.devType);
    for (const ComponentVersion& component : kComponentVersions)
        compare(component.name, stored.*component.device, reported.*component.device);
    compare("LicensePlateNumber", stored.LicensePlateNumber, reported.LicensePlateNumber);
    compare("PhoneNumber", stored.PhoneNumber, reported.PhoneNumber);
    return changes.join(QStringLiteral("; "));
}
