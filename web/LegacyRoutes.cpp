#include "web/LegacyRoutes.h"

#include <iterator>

#include "http/RequestTarget.h"

namespace {
constexpr Qt::CaseSensitivity kAnyCase = Qt::CaseInsensitive;
constexpr Qt::CaseSensitivity kExact = Qt::CaseSensitive;

// Routing order: the metrics and readiness, then GET pages (a URL with "/INDEX" or "/doc/" is a
// page whatever else it contains), then the API routes; POST and PUT match their markers as they
// always have.
const LegacyRoute kRoutes[] = {
    {LegacyRouteId::Metrics, "GET", "/metrics", kExact, Role::Viewer, "metrics", true, true},
    {LegacyRouteId::Readiness, "GET", "/ready", kExact, Role::Public, "readiness", true},
    {LegacyRouteId::Pages, "GET", nullptr, kAnyCase, Role::Public, "pages"},
    {LegacyRouteId::DeviceList, "GET", "/KORVA/deviceList", kAnyCase, Role::Viewer, "device list"},
    {LegacyRouteId::PackageList, "GET", "/KORVA/packageList", kAnyCase, Role::Viewer,
     "package list"},
    {LegacyRouteId::Progress, "GET", "/KORVA/getProgress", kAnyCase, Role::Viewer,
     "upgrade progress"},
    {LegacyRouteId::DeviceExport, "GET", "/KORVA/downLoadExcel", kAnyCase, Role::Viewer,
     "device list export"},
    {LegacyRouteId::Reserved, "GET", "/KORVA/FILE", kAnyCase, Role::Viewer, "reserved"},
    {LegacyRouteId::PackageDownload, "GET", "/KORVA/dlPackage", kAnyCase, Role::Viewer,
     "package download"},
    {LegacyRouteId::PackageUpload, "POST", "/KORVA/uploadFile", kAnyCase, Role::Operator,
     "package upload"},
    {LegacyRouteId::DeviceImport, "POST", "/KORVA/uploadExcel", kExact, Role::Operator,
     "device list import"},
    {LegacyRouteId::PackageDelete, "PUT", "/KORVA/deletePackage", kExact, Role::Operator,
     "package delete"},
    {LegacyRouteId::ForcedUpgradeClear, "PUT", "/KORVA/stopUpload", kExact, Role::Operator,
     "forced upgrade clear"},
    {LegacyRouteId::OtherApi, "*", "/KORVA/", kAnyCase, Role::Viewer, "other /KORVA/ path"},
};

const LegacyRoute kStaticFile{
    LegacyRouteId::StaticFile, "GET", nullptr, kAnyCase, Role::Public, "static file"};
const LegacyRoute kUnrouted{
    LegacyRouteId::Unrouted, "*", nullptr, kAnyCase, Role::Public, "unrouted"};

bool isPage(const QString& url) {
    return url.contains(QLatin1String("/INDEX"), kAnyCase) || url == QLatin1String("/") ||
           url.contains(QLatin1String("/doc/"), kAnyCase) ||
           url.contains(QLatin1String(".ico"), kAnyCase);
}
}  // namespace

const LegacyRoute& legacyRoute(const QByteArray& method, const QString& decodedUrl) {
    for (const LegacyRoute& route : kRoutes) {
        if (qstrcmp(route.method, "*") != 0 && method != route.method) continue;
        const bool matched =
            !route.marker     ? isPage(decodedUrl)
            : route.wholePath ? targetPath(decodedUrl) == QLatin1String(route.marker)
                              : decodedUrl.contains(QLatin1String(route.marker), route.matchCase);
        if (matched) return route;
    }
    // Any other GET is looked up as a file under the web root.
    return method == "GET" ? kStaticFile : kUnrouted;
}

const LegacyRoute* legacyRoutes(int& count) {
    count = static_cast<int>(std::size(kRoutes));
    return kRoutes;
}
