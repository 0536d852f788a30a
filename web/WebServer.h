#pragma once

#include <QString>

#include "api/HttpBrowserAPI.h"
#include "http/HttpServer.h"

// The management web server: static pages under the web root and the JSON API under
// "/KORVA/", routed by substrings of the decoded URL; package and export downloads with ranges.
class WebServer : public HttpServer {
    Q_OBJECT
  public:
    explicit WebServer(QObject* parent = nullptr);
    ~WebServer() override;

    void setWebRoot(const QString& root) { m_webRoot = root; }
    void setDefaultPage(const QString& page) { m_defaultPage = page; }

  protected:
    void processGetRequest(evhttp_request* req) override;
    void processPutRequest(evhttp_request* req) override;
    void processPostRequest(evhttp_request* req) override;
    void processDeleteRequest(evhttp_request* req) override;
    void processUnknownRequest(evhttp_request* req) override;

  private:
    // The "/KORVA/v2/" routes (WebServerApi.cpp).
    bool isApiRequest(evhttp_request* req);
    void processApiRequest(evhttp_request* req);

    void processStaticRequest(evhttp_request* req, const QString& url);
    // The file under the web root, or false with the error already sent.
    bool findWebFile(evhttp_request* req, const QString& path, bool recursive, QString& found);
    void sendIndexPage(evhttp_request* req, const QString& page, bool recursive);
    void sendStaticFile(evhttp_request* req, const QString& path, bool recursive);
    void processDeviceList(evhttp_request* req, const QString& url);
    // A list route whose failure is 501: the package list or the progress list.
    void processJsonList(evhttp_request* req, bool (HttpBrowserAPI::*list)(QByteArray&));
    void processExport(evhttp_request* req);
    void getDownLoadPackage(evhttp_request* req, const QString& url);
    void sendFile(evhttp_request* req, const QString& path);
    void sendJson(evhttp_request* req, const QByteArray& json);
    void printRemote(evhttp_request* req, const char* label);

    QString m_webRoot = QStringLiteral("./Web");
    QString m_defaultPage = QStringLiteral("index.html");
    QString m_lastUrl;  // of the GET being served; read by sendFile under the request lock
};
