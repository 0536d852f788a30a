#include "device/TerminalMetrics.h"

#include <iterator>

#include <prometheus/counter.h>

#include "core/LatencyHistogramFamily.h"
#include "core/MetricsRegistry.h"
#include "core/ScrapeHook.h"

namespace {

const char* const kReceivedKinds[] = {"report", "report_ex", "progress", "command_result",
                                      "file_chunk"};
const char* const kAnswerKinds[] = {"upgrade_offered", "no_upgrade", "progress_poll", "command",
                                    "file_request"};
const char* const kReasonLabels[] = {
    "bad_check_code", "bad_body",         "unknown_command", "no_serial", "serial_changed",
    "impostor",       "unrequested_file", "over_quota",      "closed",    "registration_limited"};

// Index into kReceivedKinds; -1 for a command the service does not handle.
int receivedKind(quint16 cmd) {
    switch (static_cast<Command>(cmd)) {
        case Command::Report:
            return 0;
        case Command::ReportEx:
            return 1;
        case Command::Progress:
            return 2;
        case Command::Command:
            return 3;
        case Command::File:
            return 4;
        default:
            return -1;
    }
}

// Index into kAnswerKinds; -1 for a command that is never an answer. Past the report's two
// outcomes the answers line up with the packets they answer.
int answerKind(Command answer, bool upgradeOffered) {
    if (answer == Command::UpgradeAnswer) return upgradeOffered ? 0 : 1;
    return answer == Command::ReportEx ? -1 : receivedKind(code(answer));
}

}  // namespace

TerminalMetrics::TerminalMetrics(MetricsRegistry& registry) : m_registry(registry) {
    auto& received = registry.counters("wayfarer_terminal_packets_received_total",
                                       "Terminal packets that passed the check code, by kind.");
    auto& answered = registry.counters("wayfarer_terminal_packets_sent_total",
                                       "Answers sent to terminals, by kind.");
    for (int i = 0; i < kKinds; ++i) {
        m_received[i] = &received.Add({{"kind", kReceivedKinds[i]}});
        m_answered[i] = &answered.Add({{"kind", kAnswerKinds[i]}});
    }
    auto& refused = registry.counters("wayfarer_terminal_packets_refused_total",
                                      "Terminal packets refused, by reason.");
    static_assert(std::size(kReasonLabels) == kReasons, "a label for every refusal");
    for (int i = 0; i < kReasons; ++i) m_refused[i] = &refused.Add({{"reason", kReasonLabels[i]}});
    m_accepted = &registry
                      .counters("wayfarer_terminal_connections_accepted_total",
                                "Terminal connections accepted (one taken over the limit "
                                "once its report shows a known terminal).")
                      .Add({});
    m_refusedAtLimit = &registry
                            .counters("wayfarer_terminal_connections_refused_total",
                                      "Terminal connections turned away at the connection "
                                      "limit: at once, or taken over it and not shown a known "
                                      "terminal.")
                            .Add({});
    // An answer waits for the database: from a fraction of a millisecond to seconds.
    m_reportLatency =
        &registry
             .histograms("wayfarer_terminal_report_answer_duration_seconds",
                         "From taking a terminal's report up to handing its answer to the link.")
             .add({}, {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5});
}

void TerminalMetrics::received(quint16 cmd) {
    const int kind = receivedKind(cmd);
    if (kind < 0)
        refused(Refusal::UnknownCommand);
    else
        m_received[kind]->Increment();
}

void TerminalMetrics::answered(Command answer, bool upgradeOffered) {
    const int kind = answerKind(answer, upgradeOffered);
    if (kind >= 0) m_answered[kind]->Increment();
}

void TerminalMetrics::refused(Refusal reason) {
    m_refused[static_cast<int>(reason)]->Increment();
}

void TerminalMetrics::reportAnswered(std::chrono::steady_clock::duration elapsed) {
    m_reportLatency->observe(elapsed);
}

void TerminalMetrics::connectionAccepted() {
    m_accepted->Increment();
}

void TerminalMetrics::connectionRefused() {
    m_refusedAtLimit->Increment();
}

std::unique_ptr<ScrapeHook> TerminalMetrics::watchConnections(std::function<int()> count) {
    return std::make_unique<ScrapeHook>(
        m_registry, [count = std::move(count)](std::vector<prometheus::MetricFamily>& out) {
            out.push_back(MetricsRegistry::reading("wayfarer_terminals_connected",
                                                   "Terminal connections open now.",
                                                   prometheus::MetricType::Gauge, count()));
        });
}

std::unique_ptr<ScrapeHook> TerminalMetrics::watchOnline(std::string instanceName,
                                                         std::function<int()> count) {
    return std::make_unique<ScrapeHook>(
        m_registry, [name = std::move(instanceName),
                     count = std::move(count)](std::vector<prometheus::MetricFamily>& out) {
            auto family = MetricsRegistry::reading(
                "wayfarer_terminals_online",
                "Terminals that reported on a connection to this instance still open.",
                prometheus::MetricType::Gauge, count());
            // Not "instance": Prometheus gives that label to the scraped address.
            family.metric.front().label = {{"instance_name", name}};
            out.push_back(std::move(family));
        });
}
