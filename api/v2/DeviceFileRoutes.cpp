#include "api/v2/DeviceFileRoutes.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "api/v2/CollectedFileJson.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/RouteReplies.h"
#include "files/CollectedFiles.h"

namespace {
ApiReply listFiles(const ApiRequest& request) {
    const QString devSN = request.params.value(QStringLiteral("devSN"));
    QJsonArray items;
    for (const CollectedFiles::Entry& entry : CollectedFiles::list(request.parameters(), devSN))
        items.append(CollectedFileJson::row(devSN, entry));
    return RouteReplies::ok({{"items", items}});
}

ApiReply download(const ApiRequest& request) {
    const QString name = request.params.value(QStringLiteral("name"));
    const QString path =
        CollectedFiles::path(request.parameters(), request.params.value(QStringLiteral("devSN")),
                             request.params.value(QStringLiteral("type")),
                             request.params.value(QStringLiteral("reportTime")), name);
    if (path.isEmpty()) return RouteReplies::notFound(QStringLiteral("文件不存在"));
    return ApiReply::file(path, "application/octet-stream", name);
}

QJsonObject listDoc() {
    return {{"parameters", QJsonArray{OperationDoc::pathParam("devSN", "serial number", "SN0001")}},
            {"responses",
             QJsonObject{{"200", OperationDoc::json(
                                     "Newest report first within each type; none for a terminal "
                                     "that sent nothing",
                                     OperationDoc::object(
                                         {{"items", OperationDoc::arrayOf(
                                                        OperationDoc::ref("CollectedFile"))}}))}}}};
}

QJsonObject downloadDoc() {
    return {
        {"description", "Byte ranges: 206 with Content-Range, 416 past the end."},
        {"parameters",
         QJsonArray{OperationDoc::pathParam("devSN", "serial number", "SN0001"),
                    QJsonObject{{"name", "type"},
                                {"in", "path"},
                                {"required", true},
                                {"schema", QJsonObject{{"type", "string"},
                                                       {"enum", QJsonArray::fromStringList(
                                                                    CollectedFiles::typeNames())}}},
                                {"example", "log"}},
                    OperationDoc::pathParam("reportTime", "yyyyMMddHHmm", "202612081620"),
                    OperationDoc::pathParam("name", "file name", "trip.log")}},
        {"responses",
         QJsonObject{{"200", OperationDoc::file("The whole file", "application/octet-stream")},
                     {"206", OperationDoc::file("The range asked for", "application/octet-stream")},
                     {"404", OperationDoc::error("No such file in the store")},
                     {"416", QJsonObject{{"description", "The range starts past the end"}}}}}};
}
}  // namespace

ApiGroup deviceFileRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("device files");
    group.schemas = QJsonDocument(CollectedFileJson::schemas()).toJson(QJsonDocument::Compact);
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/devices/{devSN}/files"), Role::Viewer,
         QStringLiteral("listDeviceFiles"), QStringLiteral("Files the terminal uploaded"),
         listFiles, OperationDoc::text(listDoc())},
        {"GET", QStringLiteral("/KORVA/v2/devices/{devSN}/files/{type}/{reportTime}/{name}"),
         Role::Viewer, QStringLiteral("downloadDeviceFile"),
         QStringLiteral("Download one uploaded file"), download, OperationDoc::text(downloadDoc())},
    };
    return group;
}
