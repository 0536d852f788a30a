// wayfarer-terminal: simulated vehicle terminals for operators, tests and load runs.
#include <algorithm>
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include "tools/terminal/SimTerminal.h"

namespace {
bool parseScript(const QCommandLineParser& p, TerminalScript& s, int& count, QString& error) {
    bool ok = true;
    s.host = p.value("host");
    s.port = static_cast<quint16>(p.value("port").toUInt(&ok));
    if (!ok || s.port == 0) return error = "--port is required", false;
    count = p.value("count").toInt(&ok);
    if (!ok || count < 1) return error = "--count must be at least 1", false;
    s.identity.devSN = p.value("sn");
    s.identity.devType = p.value("type");
    s.identity.LicensePlateNumber = p.value("plate");
    s.identity.PhoneNumber = p.value("phone");
    s.identity.AppVersion = p.value("app");
    s.identity.McuVersion = p.value("mcu");
    s.identity.FourGVersion = p.value("4g");
    s.identity.GnssVersion = p.value("gnss");
    s.identity.SmartModule = p.value("smart");
    s.devId = p.value("dev-id").toUtf8();
    s.extended = p.isSet("extended");
    const QString expect = p.value("expect");
    if (expect == "upgrade")
        s.expect = TerminalScript::Expect::Upgrade;
    else if (expect == "none")
        s.expect = TerminalScript::Expect::None;
    else if (expect == "any")
        s.expect = TerminalScript::Expect::Any;
    else
        return error = "--expect takes upgrade, none or any", false;
    s.progressSteps.clear();
    for (const QString& step : p.value("progress").split(',', Qt::SkipEmptyParts)) {
        const uint percent = step.toUInt(&ok);
        if (!ok || percent > 100) return error = "--progress takes percentages 0..100", false;
        s.progressSteps.append(percent);
    }
    if (s.progressSteps.isEmpty()) return error = "--progress needs at least one step", false;
    s.breakAt = p.value("break-at").toLongLong();
    s.download = !p.isSet("no-download");
    s.loopProgressMs = p.value("loop-progress").toInt();
    s.cmdResult = p.value("cmd-result").toUInt();
    for (const QString& spec : p.values("file")) {
        const int eq = spec.indexOf('=');
        const uint type = spec.left(eq).toUInt(&ok);
        if (eq < 0 || !ok || type < 1 || type > 4)
            return error = "--file takes TYPE=PATH with TYPE 1..4", false;
        s.files.insert(type, spec.mid(eq + 1));
    }
    s.reports = std::max(1, p.value("reports").toInt());
    s.timeoutMs = p.value("timeout").toInt();
    s.settleMs = p.value("settle").toInt();
    s.holdMs = p.value("exit-after").toInt();
    s.startDelayMs = p.value("start-delay").toInt();
    s.reconnects = std::max(0, p.value("reconnect").toInt());
    return true;
}

double percentile(QList<double> values, double q) {
    if (values.isEmpty()) return 0;
    std::sort(values.begin(), values.end());
    const int index = std::min<int>(values.size() - 1, static_cast<int>(q * values.size()));
    return values.at(index);
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("wayfarer-terminal");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulated vehicle terminals: connect to the upgrade service, report identity and "
        "versions, then follow the conversation (download and progress on an upgrade, command "
        "results, file uploads). One line per step; exit code 0 when every terminal finished "
        "its script, 1 on any protocol fault (bad check code, unexpected command, time-out).");
    parser.addHelpOption();
    parser.addOptions({
        {"host", "Service address.", "addr", "127.0.0.1"},
        {"port", "Service TCP port (TcpPort).", "port"},
        {"count", "Number of terminals; with more than one, terminal i is named SN + i.", "n", "1"},
        {"sn", "Serial number (prefix with --count).", "sn", "SN0001"},
        {"dev-id", "Device ID in the packet header (default: the serial number).", "id"},
        {"type", "Device type.", "type", "T1"},
        {"plate", "Licence plate.", "text", ""},
        {"phone", "Phone number.", "text", ""},
        {"app", "Application version.", "ver", ""},
        {"mcu", "MCU version.", "ver", ""},
        {"4g", "4G module version.", "ver", ""},
        {"gnss", "GNSS module version.", "ver", ""},
        {"smart", "Smart module version.", "ver", ""},
        {"extended", "Send the extended report (0x0006, 32-byte serial number)."},
        {"expect", "What the report must bring: upgrade, none or any.", "what", "any"},
        {"progress", "Progress steps reported, each after a poll; 100 only after the download.",
         "list", "25,50,75,100"},
        {"break-at", "Break the download after this many bytes and resume with a Range request.",
         "bytes", "0"},
        {"no-download", "Report progress without downloading the package."},
        {"loop-progress", "Repeat the first progress step after every poll for this long first.",
         "ms", "0"},
        {"cmd-result", "Result code answered to a command (0x0003).", "code", "0"},
        {"file",
         "Local file sent for a file request of TYPE (1 log, 2 index, 3 print, 4 run "
         "information), in chunks of at most 1348 bytes: counter1 = chunk number 1..n, "
         "counter2 = n, counter3 = counter4 = 1. Repeatable.",
         "type=path"},
        {"reports", "Reports per terminal, each after the previous exchange ended.", "n", "1"},
        {"timeout", "Longest wait for any expected packet.", "ms", "10000"},
        {"settle", "Quiet time after a file upload that ends the exchange.", "ms", "300"},
        {"exit-after", "Stay connected this long after the script before leaving.", "ms", "0"},
        {"start-delay", "Wait this long after connecting before the first report.", "ms", "0"},
        {"reconnect",
         "On a lost connection or a broken download, connect again and start over, at most n "
         "times (through a balancer the next connection may reach another instance).",
         "n", "0"},
        {"quiet", "Print only faults and the summary."},
    });
    parser.process(app);

    TerminalScript base;
    int count = 1;
    QString error;
    if (!parseScript(parser, base, count, error)) {
        std::fprintf(stderr, "wayfarer-terminal: %s\n", qPrintable(error));
        return 2;
    }
    const bool quiet = parser.isSet("quiet");
    QTextStream out(stdout);

    QList<SimTerminal*> terminals;
    int remaining = count;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        TerminalScript script = base;
        if (count > 1) {
            script.identity.devSN = base.identity.devSN + QString::number(i + 1);
            if (!base.devId.isEmpty()) script.devId = base.devId + QByteArray::number(i + 1);
        }
        auto* terminal = new SimTerminal(script, &app);
        QObject::connect(terminal, &SimTerminal::line, [&out, quiet](const QString& text) {
            if (quiet && !text.contains("FAULT")) return;
            out << text << '\n';
            out.flush();
        });
        QObject::connect(terminal, &SimTerminal::finished, [&](bool ok) {
            if (!ok) ++failures;
            if (--remaining == 0) app.quit();
        });
        terminals.append(terminal);
    }
    for (SimTerminal* terminal : terminals) terminal->start();
    app.exec();

    QList<double> latencies;
    for (SimTerminal* terminal : terminals) latencies += terminal->latencies();
    out << QString(
               "summary: %1 terminals, %2 failed, %3 answers, latency ms median %4 p99 %5 max %6")
               .arg(count)
               .arg(failures)
               .arg(latencies.size())
               .arg(percentile(latencies, 0.5), 0, 'f', 3)
               .arg(percentile(latencies, 0.99), 0, 'f', 3)
               .arg(percentile(latencies, 1.0), 0, 'f', 3)
        << '\n';
    out.flush();
    return failures == 0 ? 0 : 1;
}
