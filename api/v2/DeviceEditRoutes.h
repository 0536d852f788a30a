#pragma once

#include "api/v2/ApiRoute.h"

// The requests an operator leaves for terminals (forced upgrade, command, four file requests),
// for one terminal or every terminal a filter takes, writing those columns only.
ApiGroup deviceEditRoutes();
