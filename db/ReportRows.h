#pragma once

#include <optional>

#include <QList>

#include "model/struDeviceEvent.h"
#include "model/struDeviceInfo.h"
#include "model/struDevicePresence.h"
#include "model/struUpgradeDecision.h"

// What one accepted report writes of its terminal: the columns the report carries (with pin,
// also its pinned identity; none for a terminal registered by this report, whose row is
// inserted apart), its presence, the decision taken and the events of its timeline, in order.
// PostgreSQL runs them as one statement, as each statement there is a round trip; SQLite one
// after the other. True when every one ran.
struct ReportRows {
    std::optional<struDeviceInfo> device;
    bool pin = false;
    struDevicePresence presence;
    struUpgradeDecision decision;
    QList<struDeviceEvent> events;

    bool write() const;
};
