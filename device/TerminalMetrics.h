#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <QtGlobal>

#include "codec/Command.h"

namespace prometheus {
class Counter;
}
class LatencyHistogram;
class MetricsRegistry;
class ScrapeHook;

// What the terminal link counts: packets received and answers sent by kind, packets refused by
// reason, connections accepted and refused at the limit. An event is one lock-free increment of
// a series made at construction.
class TerminalMetrics {
  public:
    enum class Refusal {
        BadCheckCode,     // the check code (or the header it covers) is wrong
        BadBody,          // the body does not parse for its command
        UnknownCommand,   // a command the service does not handle
        NoSerial,         // a report without a serial number
        SerialChanged,    // a report with another serial number than before on the connection
        Impostor,         // from a terminal whose serial number is pinned to another device ID
        UnrequestedFile,  // a file chunk of a type not requested on the connection
        OverQuota,        // a device file past its quota (counted once per file)
        Closed,           // still waiting when the service closed its connection: dropped
        // A report of a serial number never seen before, over the registration limits: no
        // device is made and the connection is closed.
        RegistrationLimited,
    };

    // Its series live in registry, which must outlive it.
    explicit TerminalMetrics(MetricsRegistry& registry);

    // A packet that passed the check code, by its command; an unknown command is refused.
    void received(quint16 cmd);
    // An answer sent; for the upgrade answer whether it offered an upgrade.
    void answered(Command answer, bool upgradeOffered = false);
    void refused(Refusal reason);
    // From taking a report up to handing its first answer to the link.
    void reportAnswered(std::chrono::steady_clock::duration elapsed);
    void connectionAccepted();
    void connectionRefused();

    // The connections open now are read from `count` at every scrape while the hook lives.
    std::unique_ptr<ScrapeHook> watchConnections(std::function<int()> count);
    // The same for the terminals that reported on a connection still open, labelled with this
    // instance's name (InstanceName): the fleet's count is their sum over the instances.
    std::unique_ptr<ScrapeHook> watchOnline(std::string instanceName, std::function<int()> count);

  private:
    MetricsRegistry& m_registry;
    static constexpr int kKinds = 5;
    static constexpr int kReasons = 10;
    prometheus::Counter* m_received[kKinds] = {};
    prometheus::Counter* m_answered[kKinds] = {};
    prometheus::Counter* m_refused[kReasons] = {};
    prometheus::Counter* m_accepted = nullptr;
    prometheus::Counter* m_refusedAtLimit = nullptr;
    LatencyHistogram* m_reportLatency = nullptr;
};
