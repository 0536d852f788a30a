#pragma once

#include "api/v2/ApiRoute.h"

// What went wrong in a package's rollout: the terminals whose attempts failed with their last
// one (also as CSV), and the release of terminals held back at the retry limit.
ApiGroup rolloutFailureRoutes();
