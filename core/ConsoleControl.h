#pragma once

// The console control events of the service on POSIX signals: SIGINT prints "ctrl+c" and keeps
// running; SIGQUIT, SIGHUP and SIGTERM print their line and end the process as by default.
// SIGPIPE is ignored: a terminal or browser that hangs up must not end the service.
void installConsoleControlHandler();

// From now on the first SIGTERM writes one byte to fd (a pipe's end the caller watches) instead
// of ending the process, so that the service can wind down; a second one ends it as before.
void deferTermination(int fd);
