#include "api/v2/PackageJson.h"

#include <QFile>

#include "api/v2/JsonRecord.h"

namespace {
JsonField<struPackageInfo> text(const char* name, QString struPackageInfo::*field,
                                const char* description = "") {
    return {QLatin1String(name), "string", QLatin1String(description),
            [field](const struPackageInfo& p) { return QJsonValue(p.*field); }};
}

JsonField<struPackageInfo> integer(const char* name, qint32 struPackageInfo::*field,
                                   const char* description) {
    return {QLatin1String(name), "integer", QLatin1String(description),
            [field](const struPackageInfo& p) { return QJsonValue(p.*field); }};
}

const JsonFields<struPackageInfo>& fields() {
    static const JsonFields<struPackageInfo> list{
        integer("id", &struPackageInfo::id, "table key"),
        text("packageName", &struPackageInfo::packageName, "stored name, upload label first"),
        text("AppVersion", &struPackageInfo::AppVersion),
        text("McuVersion", &struPackageInfo::McuVersion),
        text("FourGVersion", &struPackageInfo::FourGVersion),
        text("GnssVersion", &struPackageInfo::GnssVersion),
        text("SmartModule", &struPackageInfo::SmartModule),
        text("Reserve", &struPackageInfo::Reserve),
        integer("size", &struPackageInfo::size, "bytes, as announced by the upload"),
        integer("uploadTime", &struPackageInfo::uploadTime, "seconds since the epoch"),
        text("deviceType", &struPackageInfo::deviceType),
        text("sha256", &struPackageInfo::sha256, "hex SHA-256 of the file as uploaded"),
        {"fileExists", "boolean", "the package file is on disk",
         [](const struPackageInfo& p) {
             return QJsonValue(!p.packagePath.isEmpty() && QFile::exists(p.packagePath));
         }},
        {"download", "string", "path of the download, byte ranges honoured",
         [](const struPackageInfo& p) {
             return QJsonValue(QStringLiteral("/KORVA/v2/packages/%1/file").arg(p.id));
         }},
    };
    return list;
}
}  // namespace

QJsonObject PackageJson::row(const struPackageInfo& package) {
    return recordJson(fields(), package);
}

QJsonObject PackageJson::schemas() {
    return QJsonObject{{"Package", recordSchema(fields())}};
}
