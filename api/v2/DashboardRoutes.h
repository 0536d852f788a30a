#pragma once

#include "api/v2/ApiRoute.h"

// The dashboard's counts of the fleet and its history, and each terminal's timeline.
ApiGroup dashboardRoutes();
