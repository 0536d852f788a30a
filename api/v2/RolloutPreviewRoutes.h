#pragma once

#include "api/v2/ApiRoute.h"

// What a rollout plan would take before it is set: its stages counted over the terminals of the
// package's type, nothing stored.
ApiGroup rolloutPreviewRoutes();
