#pragma once

#include "api/v2/ApiRoute.h"

// The device list as a spreadsheet: export with the list's filters, a preview of what an edited
// file would change (stale rows flagged), and the import itself.
ApiGroup exchangeRoutes();
