#pragma once

#include "api/v2/ApiRoute.h"

// The device list of the console, a page at a time, and one terminal with everything known of it.
ApiGroup deviceQueryRoutes();
