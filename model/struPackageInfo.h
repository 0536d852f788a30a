#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One upgrade package: the row of Tab_Package. One current package per device type.
struct struPackageInfo {
    qint32 row_num = 0;
    qint32 id = 0;
    QString packageName;
    QString AppVersion;
    QString McuVersion;
    QString FourGVersion;
    QString GnssVersion;
    QString SmartModule;
    QString Reserve;
    QString packagePath;
    qint32 uploadTime = 0;
    qint32 size = 0;
    QString deviceType;
    QString sha256;  // hex SHA-256 of the package file as uploaded; empty for older packages
};
Q_DECLARE_METATYPE(struPackageInfo)
