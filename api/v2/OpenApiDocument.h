#pragma once

#include <QByteArray>

#include "api/v2/ApiRouter.h"

// The OpenAPI 3 document of the v2 routes, written from the same route table the router uses,
// so a route cannot exist without its description.
QByteArray openApiDocument(const ApiRouter& router);
