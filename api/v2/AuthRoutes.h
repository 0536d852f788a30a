#pragma once

#include "api/v2/ApiRoute.h"

// Login, logout, who is calling, and the caller's own password.
ApiGroup authRoutes();
