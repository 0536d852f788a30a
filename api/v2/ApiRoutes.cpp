#include "api/v2/ApiRoutes.h"

#include "api/v2/AccountRoutes.h"
#include "api/v2/AuditRoutes.h"
#include "api/v2/AuthRoutes.h"
#include "api/v2/DeviceRoutes.h"
#include "api/v2/MetaRoutes.h"
#include "api/v2/TokenRoutes.h"

const ApiRouter& apiRouter() {
    // One line per resource group.
    static const ApiRouter router({
        metaRoutes(),
        deviceRoutes(),
        authRoutes(),
        accountRoutes(),
        tokenRoutes(),
        auditRoutes(),
    });
    return router;
}
