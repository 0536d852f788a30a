#pragma once

// The console control events of the service on POSIX signals: SIGINT prints "ctrl+c" and keeps
// running; SIGQUIT, SIGHUP and SIGTERM print their line and end the process as by default.
// SIGPIPE is ignored: a terminal or browser that hangs up must not end the service.
void installConsoleControlHandler();
