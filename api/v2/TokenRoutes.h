#pragma once

#include "api/v2/ApiRoute.h"

// API tokens for scripts, for admins: create (the secret is shown once), list, revoke.
ApiGroup tokenRoutes();
