#pragma once

#include "api/v2/ApiRouter.h"

// The router of every "/KORVA/v2/" route; built once, safe to use from any thread.
const ApiRouter& apiRouter();
