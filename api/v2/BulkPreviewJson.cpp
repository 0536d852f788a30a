#include "api/v2/BulkPreviewJson.h"

#include <algorithm>

#include <QJsonArray>

#include "api/v2/OperationDoc.h"
#include "api/v2/PackageJson.h"

namespace {
QJsonObject integer(const char* description) {
    return {{"type", "integer"}, {"minimum", 0}, {"description", description}};
}
}  // namespace

QJsonObject BulkPreviewJson::reply(const QList<DevicePackageCounts::Group>& groups,
                                   const QList<struPackageInfo>& packages, bool forces,
                                   int typedAbove) {
    int matched = 0, online = 0, onVersion = 0, withoutPackage = 0, servable = 0;
    QJsonArray perPackage;
    for (const DevicePackageCounts::Group& group : groups) {
        matched += group.matched;
        online += group.online;
        onVersion += group.onVersion;
        const auto package =
            std::find_if(packages.begin(), packages.end(),
                         [&group](const struPackageInfo& p) { return p.id == group.packageId; });
        // A package deleted since the count is no package either.
        if (package == packages.end()) {
            withoutPackage += group.matched;
            continue;
        }
        const QJsonObject row = PackageJson::row(*package);
        // A package whose file is gone is not handed out, forced or not.
        if (row.value("fileExists").toBool()) servable += group.matched;
        perPackage.append(QJsonObject{{"package", row},
                                      {"matched", group.matched},
                                      {"online", group.online},
                                      {"offline", group.matched - group.online},
                                      {"alreadyOnVersion", group.onVersion}});
    }
    return {{"matched", matched},
            {"online", online},
            {"offline", matched - online},
            {"alreadyOnVersion", onVersion},
            {"withoutPackage", withoutPackage},
            {"wouldBeOffered", forces ? servable : 0},
            {"typedConfirmationAbove", typedAbove},
            {"packages", perPackage}};
}

QJsonObject BulkPreviewJson::schemas() {
    const QJsonObject package = OperationDoc::object(
        {{"package", OperationDoc::ref("Package")},
         {"matched", integer("terminals of the package's type the edit takes")},
         {"online", integer("of them connected now")},
         {"offline", integer("of them not connected")},
         {"alreadyOnVersion",
          integer("of them reporting every component the package carries at its version")}});
    const QJsonObject preview = OperationDoc::object(
        {{"matched", integer("terminals the edit takes")},
         {"online", integer("of them connected now")},
         {"offline", integer("of them not connected")},
         {"alreadyOnVersion", integer("of them already on their package's versions")},
         {"withoutPackage", integer("of them whose type has no package")},
         {"wouldBeOffered",
          integer("of them offered their package at the next report: those whose package file is "
                  "there when the edit forces the upgrade, none otherwise")},
         {"typedConfirmationAbove",
          integer("the console asks for the count to be typed past this many terminals "
                  "(BulkConfirmTypedCount)")},
         {"packages", OperationDoc::arrayOf(OperationDoc::ref("BulkPreviewPackage"))}});
    return {{"BulkPreview", preview}, {"BulkPreviewPackage", package}};
}
