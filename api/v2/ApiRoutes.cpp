#include "api/v2/ApiRoutes.h"

#include "api/v2/DeviceRoutes.h"
#include "api/v2/MetaRoutes.h"

const ApiRouter& apiRouter() {
    // One line per resource group.
    static const ApiRouter router({
        metaRoutes(),
        deviceRoutes(),
    });
    return router;
}
