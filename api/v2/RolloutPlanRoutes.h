#pragma once

#include "api/v2/ApiRoute.h"

// A package's staged rollout: its plan with each stage's progress, and the operators' changes
// (set, resume, advance, cancel), each recorded in the audit trail.
ApiGroup rolloutPlanRoutes();
