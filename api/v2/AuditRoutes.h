#pragma once

#include "api/v2/ApiRoute.h"

// The audit trail, for admins: newest first with paging and filters, or as a CSV file.
ApiGroup auditRoutes();
