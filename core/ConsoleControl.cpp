#include "core/ConsoleControl.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace {
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
