#include "api/v2/ApiRoutes.h"

#include "api/v2/AccountRoutes.h"
#include "api/v2/AuditRoutes.h"
#include "api/v2/AuthRoutes.h"
#include "api/v2/DashboardRoutes.h"
#include "api/v2/DeviceEditRoutes.h"
#include "api/v2/DeviceFileRoutes.h"
#include "api/v2/DeviceQueryRoutes.h"
#include "api/v2/DeviceRoutes.h"
#include "api/v2/ExchangeRoutes.h"
#include "api/v2/MetaRoutes.h"
#include "api/v2/PackageRoutes.h"
#include "api/v2/RolloutFailureRoutes.h"
#include "api/v2/RolloutPlanRoutes.h"
#include "api/v2/RolloutPreviewRoutes.h"
#include "api/v2/RolloutRoutes.h"
#include "api/v2/TokenRoutes.h"
#include "api/v2/UpgradeRoutes.h"
#include "api/v2/WebhookRoutes.h"

const ApiRouter& apiRouter() {
    // One line per resource group. The first route that matches wins, so a group whose paths
    // have fixed words ("/devices/export") comes before one with a parameter in their place
    // ("/devices/{devSN}").
    static const ApiRouter router({
        metaRoutes(),
        deviceRoutes(),
        authRoutes(),
        accountRoutes(),
        tokenRoutes(),
        webhookRoutes(),
        auditRoutes(),
        exchangeRoutes(),
        deviceEditRoutes(),
        deviceQueryRoutes(),
        deviceFileRoutes(),
        upgradeRoutes(),
        packageRoutes(),
        rolloutRoutes(),
        rolloutPlanRoutes(),
        rolloutPreviewRoutes(),
        rolloutFailureRoutes(),
        dashboardRoutes(),
    });
    return router;
}
