#pragma once

#include <QByteArray>
#include <QString>

#include "api/auth/Role.h"

// The routes under "/KORVA/" that predate v2, each with the lowest role that may call it. The
// management server routes by these same entries, so what is checked is what runs.
enum class LegacyRouteId {
    Metrics,    // "/metrics": the service's metrics for a scraper
    Readiness,  // "/ready": whether this instance can serve, for a balancer; open
    Pages,      // static pages: open, the login form is one of them
    DeviceList,
    PackageList,
    Progress,
    DeviceExport,
    Reserved,  // "/KORVA/FILE": 404 for every method
    PackageDownload,
    PackageUpload,
    DeviceImport,
    PackageDelete,
    ForcedUpgradeClear,
    OtherApi,    // any other path under "/KORVA/": login needed, then nothing is there
    StaticFile,  // any other GET: a file under the web root, open
    Unrouted,    // outside "/KORVA/" and not a page: 404, or 405 when another method takes it
};

// Whether the route has a handler of its own (the others end in 404 or a web-root lookup).
inline bool answersRoute(LegacyRouteId id) {
    return id != LegacyRouteId::Reserved && id != LegacyRouteId::OtherApi &&
           id != LegacyRouteId::StaticFile && id != LegacyRouteId::Unrouted;
}

struct LegacyRoute {
    LegacyRouteId id;
    const char* method;  // "GET", "POST", "PUT"; "*" for any
    const char* marker;  // what the decoded URL contains; null for the pages rule
    Qt::CaseSensitivity matchCase;
    Role role;
    const char* name;        // for the route-class table in tests and the README
    bool wholePath = false;  // the marker is the whole path (before any query), not a part of it
    // Answered without the database: a caller it could not check gets in by what this instance
    // remembers of its token.
    bool servedFromMemory = false;
};

// The entry that a request with this method and decoded URL is routed by; the first match in
// table order wins.
const LegacyRoute& legacyRoute(const QByteArray& method, const QString& decodedUrl);
// The whole table, in routing order.
const LegacyRoute* legacyRoutes(int& count);
