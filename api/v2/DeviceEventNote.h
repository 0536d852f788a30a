#pragma once

#include <QString>

#include "api/v2/ApiTypes.h"
#include "model/struDeviceEvent.h"

// Adds an operator's change of one terminal to its timeline, naming the account; a failed
// write costs only the entry.
void noteEvent(const ApiRequest& request, const QString& devSN, const char* kind,
               const QString& detail);
