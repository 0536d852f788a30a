#pragma once

#include <optional>

#include "model/struDeviceInfo.h"
#include "model/struDevicePresence.h"
#include "model/struUpgradeDecision.h"

// What one accepted report writes of its terminal: the columns the report carries (with pin,
// also its pinned identity; none for a terminal registered by this report, whose row is
// inserted apart), its presence and the decision taken. PostgreSQL runs them as one statement,
// as each statement there is a round trip; SQLite as three. True when every one ran.
struct ReportRows {
    std::optional<struDeviceInfo> device;
    bool pin = false;
    struDevicePresence presence;
    struUpgradeDecision decision;

    bool write() const;
};
