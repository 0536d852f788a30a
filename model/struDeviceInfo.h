#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One terminal: the row of Tab_DeviceInfo plus two fields kept only in memory.
struct struDeviceInfo {
    qint32 row_num = 0;
    qint32 id = 0;
    QString devId;
    QString devSN;
    QString devType;
    QString LicensePlateNumber;
    QString PhoneNumber;
    QString AppVersion;
    QString McuVersion;
    QString FourGVersion;
    QString GnssVersion;
    QString SmartModule;
    QString Reserve;
    bool isAutoUpdate = false;
    QString ConfigCmd;
    qint32 UpgradeCompletionTime = 0;
    quint32 upgradeProgress = 0;  // memory only
    bool GetLogFile = false;
    bool GetIndexFile = false;
    bool GetPrintFile = false;
    bool GetRunInfoFile = false;
    bool IdentityPinned = false;    // devId is the only device ID this serial number may report
    bool progressReported = false;  // memory only
    qint32 LastReportTime = 0;      // seconds since the epoch; written only by the report hook
};
Q_DECLARE_METATYPE(struDeviceInfo)
