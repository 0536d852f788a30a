#pragma once

#include "api/v2/ApiRoute.h"

// The routes of single terminals, by serial number.
ApiGroup deviceRoutes();
