#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The work behind each route of the management API under "/KORVA/". Stateless; the web
// server's routing picks the operation and turns the result into the HTTP reply.
class HttpBrowserAPI : public QObject {
    Q_OBJECT
  public:
    static HttpBrowserAPI* instance();

    bool GetDeviceList(QByteArray& json);
    bool GetUploadStatusList(QByteArray& json);
    bool QueryDeviceList(const QString& deviceNo, const QString& phoneNum, QByteArray& json);
    bool GetPackageList(QByteArray& json);
    bool GetProgressList(QByteArray& json);
    bool ExportDeviceList(QString& path);
    // True only when the package file exists inside the package directory.
    bool GetPackageFilePath(const QString& url, QString& path);
    bool UploadPackageBlock(const QString& url, const QByteArray& body, qint64 bodyLength);
    // savedRows, when given, counts the rows stored (also those before a failing one).
    bool ImportDeviceList(const QString& url, const QByteArray& body, qint64 bodyLength,
                          int* savedRows = nullptr);
    bool RemovePackage(const QByteArray& body);
    bool StopUpload();

  private:
    explicit HttpBrowserAPI(QObject* parent = nullptr);
};
