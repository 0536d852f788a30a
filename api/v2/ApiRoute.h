#pragma once

#include <vector>

#include "api/v2/ApiTypes.h"

// One route, described once: the router matches and guards it, the OpenAPI document is written
// from it.
struct ApiRoute {
    QByteArray method;  // "GET", "POST", "PUT", "PATCH", "DELETE"
    QString path;       // "/KORVA/v2/devices/{devSN}": each {name} matches one path segment
    Role role;          // the lowest role that may call it
    // Generated clients name their methods after it: unique, camelCase, and kept once published.
    QString operationId;
    QString summary;  // one line for the document
    ApiHandler handler;
    // The operation's OpenAPI fields besides summary and security, as JSON object text:
    // "parameters", "requestBody", "responses" (every status the route answers with).
    QByteArray doc;
    // Callable by a session whose password must be changed first (all others refuse it).
    bool openDuringPasswordChange = false;
};

// The routes of one resource with the component schemas their documents refer to.
struct ApiGroup {
    QString tag;
    std::vector<ApiRoute> routes;
    QByteArray schemas;  // JSON object text: name -> schema; may be empty
};
