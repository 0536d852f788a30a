#pragma once

#include "api/v2/ApiRoute.h"

// Operator accounts, for admins: list, create, change role or reset password, delete.
ApiGroup accountRoutes();
