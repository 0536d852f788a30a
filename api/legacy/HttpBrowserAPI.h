#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "api/auth/Role.h"

class FileOperation;
class LocalParaMgt;

// The work behind each route of the management API under "/KORVA/". Stateless; the web
// server's routing picks the operation and turns the result into the HTTP reply.
class HttpBrowserAPI : public QObject {
    Q_OBJECT
  public:
    // Reads the parameters from settings and writes files through files; both outlive it.
    HttpBrowserAPI(LocalParaMgt& settings, FileOperation& files, QObject* parent = nullptr);

    // The device lists and their export show device IDs as `reader` may see them
    // (DeviceIdView).
    bool GetDeviceList(QByteArray& json, Role reader);
    bool GetUploadStatusList(QByteArray& json, Role reader);
    bool QueryDeviceList(const QString& deviceNo, const QString& phoneNum, QByteArray& json,
                         Role reader);
    bool GetPackageList(QByteArray& json);
    bool GetProgressList(QByteArray& json);
    bool ExportDeviceList(QString& path, Role reader);
    // True only when the package file exists inside the package directory.
    bool GetPackageFilePath(const QString& url, QString& path);
    bool UploadPackageBlock(const QString& url, const QByteArray& body, qint64 bodyLength);
    // savedRows, when given, counts the rows stored (also those before a failing one).
    bool ImportDeviceList(const QString& url, const QByteArray& body, qint64 bodyLength,
                          int* savedRows = nullptr);
    bool RemovePackage(const QByteArray& body);
    bool StopUpload();

  private:
    LocalParaMgt& m_settings;
    FileOperation& m_files;
};
