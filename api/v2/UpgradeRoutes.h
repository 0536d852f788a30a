#pragma once

#include "api/v2/ApiRoute.h"

// The upgrade history: every attempt handed to a terminal, finished, stalled or under way.
ApiGroup upgradeRoutes();
