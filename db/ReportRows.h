#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QList>

#include "model/struDeviceEvent.h"
#include "model/struDeviceInfo.h"
#include "model/struDevicePresence.h"
#include "model/struUpgradeDecision.h"

// What one accepted report writes of its terminal: the columns the report carries (with pin,
// also its pinned identity; none for a terminal registered by this report, whose row is
// inserted apart), its presence, the decision taken and the events of its timeline, in order.
struct ReportRows {
    std::optional<struDeviceInfo> device;
    bool pin = false;
    struDevicePresence presence;
    struUpgradeDecision decision;
    QList<struDeviceEvent> events;

    // Inside a PinnedTransaction on PostgreSQL the rows are held, to reach the server with other
    // reports' in one statement, and refused runs if the transaction commits without them;
    // otherwise they are written now. True when held or written.
    bool write(std::function<void()> refused = {}) const;
    // Written now: PostgreSQL runs them as one statement, as each statement there is a round
    // trip; SQLite one after the other. True when every one ran.
    bool writeNow() const;
    // PostgreSQL: the rows of many reports in one statement, or as few as it takes for no
    // terminal to be written twice by one. False when one failed, which fails the transaction.
    static bool writeAll(const std::vector<const ReportRows*>& all);
};
