#include "core/ConsoleControl.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace {
// The pipe end the next SIGTERM is written to; -1: it ends the process.
volatile sig_atomic_t g_deferredTermination = -1;

void say(const char* line) {
    ssize_t ignored = ::write(STDOUT_FILENO, line, std::strlen(line));
    (void)ignored;
}

void onConsoleEvent(int sig) {
    switch (sig) {
        case SIGINT:
            say("ctrl+c\n");
            return;
        case SIGQUIT:
            say("CTRL_BREAK_EVENT\n");
            break;
        case SIGHUP:
            say("ctrl close\n");
            break;
        case SIGTERM:
            say("CTRL_SHUTDOWN_EVENT\n");
            if (const int fd = g_deferredTermination; fd >= 0) {
                g_deferredTermination = -1;
                ssize_t ignored = ::write(fd, "T", 1);
                (void)ignored;
                return;
            }
            break;
        default:
            return;
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}
}  // namespace

void installConsoleControlHandler() {
    struct sigaction action {};
    action.sa_handler = onConsoleEvent;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) ::sigaction(sig, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void deferTermination(int fd) {
    g_deferredTermination = fd;
}
