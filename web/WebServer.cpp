#include "web/WebServer.h"

#include <event2/http.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "api/legacy/EntityJson.h"
#include "api/legacy/HttpBrowserAPI.h"
#include "core/Logger.h"
#include "core/ScrapeHook.h"
#include "db/DbReadiness.h"
#include "files/SearchFile.h"
#include "http/ByteRange.h"
#include "http/FileVersion.h"
#include "http/MethodName.h"
#include "http/MimeType.h"
#include "http/RequestTarget.h"
#include "web/LegacyAudit.h"
#include "web/LegacyRoutes.h"
#include "web/PackageFileResolver.h"

#include <event2/http.h>

namespace {
const char* const kLogger = "WebServer";
const char* const kGetOp = "WebServer::processGetRequest";
const QString kJsonType = QStringLiteral("text/html;charset=UTF-8");

bool has(const QString& url, const char* part) {
    return url.contains(QLatin1String(part), Qt::CaseInsensitive);
}

// Content type of a download by the URL that asked for it.
QString downloadContentType(const QString& url) {
    return has(url, "/KORVA/dlPackage") ? QStringLiteral("application/octet-stream")
                                        : QStringLiteral("text/csv; charset=GBK");
}
}  // namespace

WebServer::WebServer(const WebServerParts& parts, QObject* parent)
    : HttpServer(parent),
      m_parts(parts),
      m_databaseGauge(std::make_unique<ScrapeHook>(
          parts.metrics, [](std::vector<prometheus::MetricFamily>& families) {
              families.push_back(MetricsRegistry::reading(
                  "wayfarer_database_up", "1 when the database answered a read at this scrape.",
                  prometheus::MetricType::Gauge, DbReadiness::check().reachable ? 1 : 0));
          })) {}

WebServer::~WebServer() {
    stop();
}

void WebServer::processGetRequest(evhttp_request* req) {
    if (isApiRequest(req)) return processApiRequest(req);
    QString url;
    if (!getDecodedUrl(req, url)) {
        getLogger(kLogger)->critical("{},获取url失败!", kGetOp);
        return;
    }
    // Health checks come every few seconds from every balancer: a line each only at debug.
    const bool check = url == QLatin1String("/ready") || url == QLatin1String("/test");
    getLogger(kLogger)->log(check ? spdlog::level::debug : spdlog::level::info, "{}, 请求url:{}",
                            kGetOp, url.toStdString());

    const LegacyRoute& route = legacyRoute("GET", url);
    Caller caller;
    if (!admit(req, "GET", route, caller)) return;
    switch (route.id) {
        case LegacyRouteId::Metrics:
            sendMetrics(req);
            break;
        case LegacyRouteId::Readiness:
            sendReadiness(req);
            break;
        case LegacyRouteId::Pages:
            processStaticRequest(req, url);
            break;
        case LegacyRouteId::DeviceList:
            processDeviceList(req, url, caller.role);
            break;
        case LegacyRouteId::PackageList:
            processJsonList(req, &HttpBrowserAPI::GetPackageList);
            break;
        case LegacyRouteId::Progress:
            processJsonList(req, &HttpBrowserAPI::GetProgressList);
            break;
        case LegacyRouteId::DeviceExport:
            processExport(req, url, caller.role);
            break;
        case LegacyRouteId::Reserved:
            sendError(req, 404, QStringLiteral("Not Found"));  // no method serves it
            break;
        case LegacyRouteId::PackageDownload:
            getLogger(kLogger)->info("{}, 设备下载升级包请求url:{}", kGetOp, url.toStdString());
            getDownLoadPackage(req, url);
            break;
        default:
            sendStaticFile(req, url, true, QString());
            break;
    }
}

void WebServer::processStaticRequest(evhttp_request* req, const QString& url) {
    if (has(url, "/INDEX") || url == QLatin1String("/")) {
        qDebug() << "[ProcessGetRequest] 接收到访问网站命令";
        addHeader(req, QStringLiteral("Content-Type"), kJsonType);
        sendIndexPage(req, m_defaultPage, true);
        return;
    }
    const QString path = targetPath(url).toString();
    sendStaticFile(req, path, true, QString::fromLatin1(mimeTypeOf(path.toStdString())));
}

bool WebServer::findWebFile(evhttp_request* req, const QString& path, bool recursive,
                            QString& found) {
    if (!QDir(m_webRoot).exists()) {
        sendError(req, 500, QStringLiteral("Internal error"));
        return false;
    }
    if (!searchFile(m_webRoot, path, found, recursive)) {
        sendError(req, 204, QStringLiteral("Request does not have content"));
        return false;
    }
    return true;
}

void WebServer::sendIndexPage(evhttp_request* req, const QString& page, bool recursive) {
    QString found;
    if (!findWebFile(req, page, recursive, found)) return;
    QFile file(found);
    replyClient(req, 200, QStringLiteral("OK"), file, false);
}

void WebServer::sendStaticFile(evhttp_request* req, const QString& path, bool recursive,
                               const QString& contentType) {
    QString found;
    if (!findWebFile(req, path, recursive, found)) return;
    // A file gone since it was found is not answered (the connection closes at its time-out).
    sendFileWithRange(req, found, contentType, QString(), RangeReply::Page);
}

void WebServer::sendJson(evhttp_request* req, const QByteArray& json) {
    addHeader(req, QStringLiteral("Content-Type"), kJsonType);
    replyClient(req, 200, QStringLiteral("OK"), json);
}

void WebServer::processDeviceList(evhttp_request* req, const QString& url, Role reader) {
    HttpBrowserAPI* api = &m_parts.browserApi;
    QByteArray json;
    bool ok = false;
    if (url.contains(QLatin1String("deviceNo=")) && url.contains(QLatin1String("phoneNum="))) {
        EntityJson codec;
        QString deviceNo, phoneNum;
        if (!codec.ParseDeviceQuery(url, deviceNo, phoneNum)) {
            sendError(req, 500, QStringLiteral(" internal error"));
            return;
        }
        ok = api->QueryDeviceList(deviceNo, phoneNum, json, reader);
    } else if (url.contains(QLatin1String("uploadStatus="))) {
        ok = api->GetUploadStatusList(json, reader);
    } else {
        ok = api->GetDeviceList(json, reader);
    }
    if (ok)
        sendJson(req, json);
    else
        sendError(req, 500, QStringLiteral(" internal error"));
}

void WebServer::processJsonList(evhttp_request* req, bool (HttpBrowserAPI::*list)(QByteArray&)) {
    HttpBrowserAPI* api = &m_parts.browserApi;
    QByteArray json;
    if ((api->*list)(json))
        sendJson(req, json);
    else
        sendError(req, 501, QStringLiteral("not implemented"));
}

void WebServer::processExport(evhttp_request* req, const QString& url, Role reader) {
    HttpBrowserAPI* api = &m_parts.browserApi;
    QString path;
    if (!api->ExportDeviceList(path, reader)) {
        sendError(req, 500, QStringLiteral(" internal error"));
    } else if (path.isEmpty()) {
        sendError(req, 501, QStringLiteral("not implemented"));
    } else {
        sendFile(req, path, downloadContentType(url));
        // The reply holds its own descriptor of the file: the name is not needed any more.
        QFile::remove(path);
    }
}

void WebServer::getDownLoadPackage(evhttp_request* req, const QString& url) {
    HttpBrowserAPI* api = &m_parts.browserApi;
    QString path;
    if (!api->GetPackageFilePath(url, path)) {
        getLogger(kLogger)->info("{}, url:{},获取下载升级包路径失败!",
                                 "WebServer::getDownLoadPackage", url.toStdString());
        sendError(req, 500, QStringLiteral(" internal error"));
    } else if (path.isEmpty()) {
        sendError(req, 501, QStringLiteral("not implemented"));
    } else {
        sendFile(req, path, downloadContentType(url), PackageFileResolver::storedDigest(path));
    }
}

void WebServer::sendFile(evhttp_request* req, const QString& path, const QString& contentType,
                         const QString& digest) {
    const QString disposition =
        QStringLiteral("attachment;filename=%1").arg(QFileInfo(path).fileName());
    if (!sendFileWithRange(req, path, contentType, disposition, RangeReply::Download, digest)) {
        getLogger(kLogger)->critical("{}, 升级包:{}不存在", "WebServer::sendFile",
                                     path.toStdString());
        sendError(req, 204, QStringLiteral("Request does not have content"));
    }
}

bool WebServer::sendFileWithRange(evhttp_request* req, const QString& path,
                                  const QString& contentType, const QString& disposition,
                                  RangeReply kind, const QString& digest) {
    const char* const op = "WebServer::sendFile";
    const bool download = kind == RangeReply::Download;
    QFile file(path);
    if (!file.exists()) return false;
    bool rangeApplies = true;
    if (kind != RangeReply::Page && !applyValidators(req, file, digest, rangeApplies)) return false;
    const qint64 size = file.size();
    if (kind == RangeReply::Standard) {
        return sendStandardRange(req, file, contentType, disposition, rangeApplies);
    }
    int64_t offset = 0;
    int64_t length = size;
    bool partial = false;
    QString range;
    if (rangeApplies && getRequstHeader(req, QStringLiteral("Range"), range)) {
        if (download) getLogger(kLogger)->info("{},本次的请求range:{}", op, range.toStdString());
        partial = ByteRange::pageExtent(range.toStdString(), size, offset, length);
        if (download && partial) {
            getLogger(kLogger)->info("{}, 解析range:{}成功! 本次发送的升级包:{}, 大小：{}", op,
                                     range.toStdString(), path.toStdString(), offset);
        } else if (download) {
            offset = 0;
            length = size;
            getLogger(kLogger)->info("{}, 解析range:{}失败! 本次发送的升级包:{},大小：{}", op,
                                     range.toStdString(), path.toStdString(), size);
        }
    } else if (download) {
        getLogger(kLogger)->info("{}, 获取请求头range失败,发送整个升级包：{}, 大小：{}", op,
                                 path.toStdString(), size);
    }
    sendExtent(req, file, contentType, disposition, partial, offset, length, partial || download);
    return true;
}

bool WebServer::applyValidators(evhttp_request* req, QFile& file, const QString& digest,
                                bool& rangeApplies) {
    // The headers and the bytes come from one open file: a file replaced meanwhile is sent in
    // one version, under its own validators.
    FileVersion version;
    if (!file.open(QIODevice::ReadOnly) || !FileVersion::ofDescriptor(file.handle(), version)) {
        file.close();
        return false;
    }
    version.digest = digest.toStdString();
    addHeader(req, QStringLiteral("Last-Modified"), QString::fromStdString(version.lastModified()));
    addHeader(req, QStringLiteral("ETag"), QString::fromStdString(version.etag()));
    QString ifRange;
    if (!getRequstHeader(req, QStringLiteral("If-Range"), ifRange)) return true;
    const std::string named = ifRange.toStdString();
    rangeApplies = version.rangeApplies(&named);
    return true;
}

bool WebServer::sendStandardRange(evhttp_request* req, QFile& file, const QString& contentType,
                                  const QString& disposition, bool rangeApplies) {
    const qint64 size = file.size();
    QString header;
    ByteRange range;
    if (rangeApplies && getRequstHeader(req, QStringLiteral("Range"), header))
        range = ByteRange::evaluate(header.toStdString(), size);
    const bool partial = range.kind == ByteRange::Part;
    addHeader(req, QStringLiteral("Accept-Ranges"), QStringLiteral("bytes"));
    if (range.kind == ByteRange::Unsatisfiable) {
        addHeader(req, QStringLiteral("Content-Range"),
                  QString::fromStdString(ByteRange::unsatisfied(size)));
        replyClient(req, 416, QStringLiteral("Range Not Satisfiable"), QByteArray());
        return true;
    }
    sendExtent(req, file, contentType, disposition, partial, partial ? range.first : 0,
               partial ? range.last - range.first + 1 : size, partial);
    return true;
}

void WebServer::sendExtent(evhttp_request* req, QFile& file, const QString& contentType,
                           const QString& disposition, bool partial, int64_t offset, int64_t length,
                           bool withContentRange) {
    if (!contentType.isEmpty()) addHeader(req, QStringLiteral("Content-Type"), contentType);
    if (!disposition.isEmpty()) addHeader(req, QStringLiteral("Content-Disposition"), disposition);
    if (withContentRange)
        addHeader(req, QStringLiteral("Content-Range"),
                  QString::fromStdString(
                      ByteRange::contentRange(offset, offset + length - 1, file.size())));
    replyClient(req, partial ? 206 : 200,
                partial ? QStringLiteral("Partial Content") : QStringLiteral("OK"), file, offset,
                length, false);
}

void WebServer::printRemote(evhttp_request* req, const char* label) {
    QString address;
    quint16 port = 0;
    getClientAddress(req, address, port);
    qDebug("[%s] remote %s:%u", label, address.toLocal8Bit().constData(), port);
}

void WebServer::processPostRequest(evhttp_request* req) {
    if (isApiRequest(req)) return processApiRequest(req);
    printRemote(req, "ProcessPostRequest");
    QString url;
    if (!getDecodedUrl(req, url)) return answerUnrouted(req, QString());
    const LegacyRoute& route = legacyRoute("POST", url);
    Caller caller;
    if (!admit(req, "POST", route, caller)) return;
    const bool upload = route.id == LegacyRouteId::PackageUpload;
    if (!upload && route.id != LegacyRouteId::DeviceImport) return answerUnrouted(req, url);

    HttpBrowserAPI* api = &m_parts.browserApi;
    QByteArray body;
    const qint64 length = getRequestBody(req, body);
    LegacyAudit audit(caller, clientAddress(req), QStringLiteral("POST ") + targetPath(url));
    bool ok = false;
    if (upload) {
        ok = length > 0 && api->UploadPackageBlock(url, body, length);
        if (ok) audit.packageBlockStored(url);
    } else {
        int rows = 0;
        // Its rows are saved at a walking pace: other requests go on meanwhile.
        withoutRequestLock(req, [&] { ok = api->ImportDeviceList(url, body, length, &rows); });
        if (rows > 0 || ok) audit.devicesImported(url, rows);
    }
    if (ok)
        replyClient(req, 200, QStringLiteral("OK"), nullptr);
    else
        sendError(req, 501, QStringLiteral("not implemented"));
}

void WebServer::processPutRequest(evhttp_request* req) {
    if (isApiRequest(req)) return processApiRequest(req);
    printRemote(req, "ProcessPutRequest");
    QString url;
    if (!getDecodedUrl(req, url)) return answerUnrouted(req, QString());
    const LegacyRoute& route = legacyRoute("PUT", url);
    Caller caller;
    if (!admit(req, "PUT", route, caller)) return;
    const bool remove = route.id == LegacyRouteId::PackageDelete;
    if (!remove && route.id != LegacyRouteId::ForcedUpgradeClear) return answerUnrouted(req, url);

    HttpBrowserAPI* api = &m_parts.browserApi;
    LegacyAudit audit(caller, clientAddress(req), QStringLiteral("PUT ") + targetPath(url));
    bool ok = false;
    if (remove) {
        QByteArray body;
        getRequestBody(req, body);
        const QString package = LegacyAudit::describeDeletion(body);
        ok = api->RemovePackage(body);
        if (ok) audit.packageDeleted(package);
    } else {
        ok = api->StopUpload();
        if (ok) audit.forcedUpgradesCleared();
    }
    if (ok)
        replyClient(req, 200, QStringLiteral("OK"), nullptr);
    else
        sendError(req, 501, QStringLiteral("not implemented"));
}

void WebServer::processDeleteRequest(evhttp_request* req) {
    if (isApiRequest(req)) return processApiRequest(req);
    qDebug("[processDeleteRequest]");
    processUnroutedMethod(req, "DELETE");
}

void WebServer::processUnknownRequest(evhttp_request* req) {
    if (isApiRequest(req)) return processApiRequest(req);
    qDebug("[ProcessUnkonwRequest]");
    processUnroutedMethod(req, "OTHER");
}

void WebServer::processUnroutedMethod(evhttp_request* req, const QByteArray& method) {
    // Nothing is served here; a caller without a login still learns only that it needs one.
    QString url;
    getDecodedUrl(req, url);
    Caller caller;
    if (admit(req, method, legacyRoute(method, url), caller)) answerUnrouted(req, url);
}

void WebServer::answerUnrouted(evhttp_request* req, const QString& url) {
    const QByteArray method = methodName(evhttp_request_get_command(req));
    QStringList allowed;
    for (const char* other : {"GET", "POST", "PUT"}) {
        if (method != other && answersRoute(legacyRoute(other, url).id))
            allowed << QString::fromLatin1(other);
    }
    if (allowed.isEmpty()) {
        sendError(req, 404, QStringLiteral("Not Found"));
        return;
    }
    // An error page would drop the Allow header.
    addHeader(req, QStringLiteral("Allow"), allowed.join(QStringLiteral(", ")));
    replyClient(req, 405, QStringLiteral("Method Not Allowed"), QByteArray());
}
