#pragma once

#include "api/v2/ApiRoute.h"

// Webhooks, for admins: register a receiver for chosen events (its signing secret is shown
// once), list, remove, and the latest attempts to reach each.
ApiGroup webhookRoutes();
