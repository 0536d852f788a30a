#pragma once

#include <QtGlobal>

// The command code of the packet header. A code names one exchange: the service's answers carry
// the code of the packet they answer, so the answers' names below are the same values.
enum class Command : quint16 {
    Report = 0x0001,    // device report, 304-byte body; from the service, the upgrade answer
    Progress = 0x0002,  // upgrade progress; from the service, a poll for it
    Command = 0x0003,   // a command from the service, its result from the terminal
    File = 0x0004,      // one chunk of a device file; from the service, the request for one
    Unused5 = 0x0005,   // framed, never handled nor sent
    ReportEx = 0x0006,  // device report with a 32-byte serial number; never sent
    Unused7 = 0x0007,   // framed, never handled nor sent

    UpgradeAnswer = Report,
    ProgressPoll = Progress,
    FileRequest = File,
};

// The code as the header carries it.
constexpr quint16 code(Command command) {
    return static_cast<quint16>(command);
}

// The codes a header may carry; any other closes the connection.
constexpr quint16 kFirstCommand = code(Command::Report);
constexpr quint16 kLastCommand = code(Command::Unused7);
