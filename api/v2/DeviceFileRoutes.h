#pragma once

#include "api/v2/ApiRoute.h"

// The files terminals uploaded (log, index, print, driving information), listed per terminal and
// downloaded with byte ranges from the file store and nowhere else.
ApiGroup deviceFileRoutes();
