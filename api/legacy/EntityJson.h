#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "api/legacy/struUploadParam.h"
#include "model/struDeviceInfo.h"
#include "model/struPackageInfo.h"

// The management API's codec: builds the JSON reply documents the browser pages read and takes
// apart what the browser sends. Stateless; every operation is a pure function of its arguments.
class EntityJson {
  public:
    // Compact document {"data":{"deviceInfo":[...]},"errorMgs":..,"statusCode":..}.
    bool DeviceListToJson(int statusCode, const QString& errorMgs,
                          const QList<struDeviceInfo>& devices, QByteArray& body);
    // Indented documents with "packageList" / "progressList".
    bool PackageListToJson(int statusCode, const QString& errorMgs,
                           const QList<struPackageInfo>& packages, QByteArray& body);
    bool ProgressListToJson(int statusCode, const QString& errorMgs,
                            const QList<struDeviceInfo>& devices, QByteArray& body);

    bool ParseDeviceQuery(const QString& url, QString& deviceNo, QString& phoneNum);
    bool ParseImportFileName(const QString& url, QString& fileName);
    bool ParseUploadParam(const QString& url, struUploadParam& param);
    bool ParsePackageId(const QByteArray& body, int& id);
};
