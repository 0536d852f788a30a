#include "api/v2/PackageRoutes.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "api/v2/OperationDoc.h"
#include "api/v2/PackageJson.h"
#include "api/v2/RouteReplies.h"
#include "db/Tab_Package.h"
#include "files/PathGuard.h"

namespace {
ApiReply listPackages(const ApiRequest&) {
    QList<struPackageInfo> packages;
    if (!Tab_Package().getAllPackages(packages)) return RouteReplies::databaseFailed();
    QJsonArray items;
    for (const struPackageInfo& package : packages) items.append(PackageJson::row(package));
    return RouteReplies::ok({{"items", items}});
}

ApiReply packageFile(const ApiRequest& request) {
    struPackageInfo package;
    ApiReply failure;
    if (!storedPackage(request.params.value(QStringLiteral("id")), package, failure))
        return failure;
    if (!packageFileStored(package, request.parameters().PackageDir))
        return RouteReplies::notFound(QStringLiteral("升级包文件不存在"));
    ApiReply reply =
        ApiReply::file(package.packagePath, "application/octet-stream", package.packageName);
    reply.fileDigest = package.sha256;
    return reply;
}

QJsonArray idParameter() {
    return QJsonArray{OperationDoc::pathParam("id", "package id", "1")};
}
}  // namespace

bool storedPackage(const QString& id, struPackageInfo& package, ApiReply& failure) {
    bool ok = false;
    const int number = id.toInt(&ok);
    if (ok && number > 0 && Tab_Package().getPackageById(number, package)) return true;
    failure = RouteReplies::notFound(QStringLiteral("升级包不存在"));
    return false;
}

bool packageFileStored(const struPackageInfo& package, const QString& packageDir) {
    return QFileInfo(package.packagePath).isFile() &&
           isInsideDirectory(package.packagePath, packageDir);
}

ApiGroup packageRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("packages");
    group.schemas = QJsonDocument(PackageJson::schemas()).toJson(QJsonDocument::Compact);
    const QJsonObject list{
        {"responses",
         QJsonObject{
             {"200", OperationDoc::json(
                         "Every package, one per device type",
                         OperationDoc::object(
                             {{"items", OperationDoc::arrayOf(OperationDoc::ref("Package"))}}))},
             {"500", OperationDoc::error("The database failed")}}}};
    const QJsonObject file{
        {"description", "Byte ranges: 206 with Content-Range, 416 past the end."},
        {"parameters", idParameter()},
        {"responses",
         QJsonObject{{"200", OperationDoc::file("The whole file", "application/octet-stream")},
                     {"206", OperationDoc::file("The range asked for", "application/octet-stream")},
                     {"404", OperationDoc::error("No such package, or its file is gone")},
                     {"416", QJsonObject{{"description", "The range starts past the end"}}}}}};
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/packages"), Role::Viewer, QStringLiteral("listPackages"),
         QStringLiteral("Upgrade packages"), listPackages, OperationDoc::text(list)},
        {"GET", QStringLiteral("/KORVA/v2/packages/{id}/file"), Role::Viewer,
         QStringLiteral("downloadPackageFile"), QStringLiteral("Download a package file"),
         packageFile, OperationDoc::text(file)},
    };
    return group;
}
