#pragma once

#include "api/v2/ApiRoute.h"

// The document of the API itself and the server's status (time, version).
ApiGroup metaRoutes();
