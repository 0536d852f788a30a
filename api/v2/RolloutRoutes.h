#pragma once

#include "api/v2/ApiRoute.h"

// How far a package has reached the terminals of its device type, by state, and the terminals
// of each state.
ApiGroup rolloutRoutes();
