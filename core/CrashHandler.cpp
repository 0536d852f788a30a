#include "core/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {
// Everything the handler touches is prepared at install time: it may not allocate.
char g_dumpDir[4096];
size_t g_dumpDirLen = 0;
char g_altStack[64 * 1024];
// Every signal whose default action dumps core, as libraries raise them (GLib's fatal errors
// trap, seccomp raises SIGSYS, the CPU and file-size limits their own); SIGQUIT is the console
// break and ends the process without a dump.
const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE,  SIGILL, SIGABRT,
                        SIGTRAP, SIGSYS, SIGXCPU, SIGXFSZ};

void put(int fd, const char* text) {
    ssize_t ignored = ::write(fd, text, std::strlen(text));
    (void)ignored;
}

void putHex(int fd, unsigned long long value) {
    char buf[19] = "0x";
    const char* digits = "0123456789abcdef";
    char tmp[16];
    int n = 0;
    do {
        tmp[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value && n < 16);
    int pos = 2;
    while (n) buf[pos++] = tmp[--n];
    buf[pos] = '\0';
    put(fd, buf);
}

void putDec(int fd, long long value) {
    char buf[24];
    int pos = 23;
    buf[pos] = '\0';
    const bool negative = value < 0;
    unsigned long long v = negative ? -static_cast<unsigned long long>(value) : value;
    do {
        buf[--pos] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (negative) buf[--pos] = '-';
    put(fd, buf + pos);
}

// A random (version 4) GUID text, 36 characters, from /dev/urandom.
void makeGuid(char out[37]) {
    unsigned char bytes[16] = {};
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t ignored = ::read(fd, bytes, sizeof bytes);
        (void)ignored;
        ::close(fd);
    }
    if (fd < 0) {
        // Without urandom, time and pid still make a name unlikely to repeat.
        unsigned long long seed = static_cast<unsigned long long>(::getpid()) * 2654435761u;
        for (auto& b : bytes)
            b = static_cast<unsigned char>(seed = seed * 6364136223846793005ull +
                                                  1442695040888963407ull);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    const char* digits = "0123456789abcdef";
    int pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out[pos++] = '-';
        out[pos++] = digits[bytes[i] >> 4];
        out[pos++] = digits[bytes[i] & 0xF];
    }
    out[pos] = '\0';
}

void onCrash(int sig, siginfo_t* info, void*) {
    char guid[37];
    makeGuid(guid);
    char path[sizeof g_dumpDir + 48];
    std::memcpy(path, g_dumpDir, g_dumpDirLen);
    size_t len = g_dumpDirLen;
    path[len++] = '/';
    std::memcpy(path + len, guid, 36);
    len += 36;
    std::memcpy(path + len, ".dmp", 5);

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        put(fd, "signal: ");
        putDec(fd, sig);
        put(fd, " (");
        put(fd, sigdescr_np(sig) ? sigdescr_np(sig) : "unknown");
        put(fd, ")\ncode: ");
        putDec(fd, info ? info->si_code : 0);
        put(fd, "\nfault address: ");
        putHex(fd, info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);
        put(fd, "\npid: ");
        putDec(fd, ::getpid());
        put(fd, "\nbacktrace:\n");
        void* frames[64];
        const int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        ::close(fd);
    }
    // Die by the original signal so the exit status (and any core dump) stays truthful.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}
}  // namespace

bool installCrashHandler(const QString& dumpDir) {
    const QByteArray dir = dumpDir.toLocal8Bit();
    if (dir.isEmpty() || static_cast<size_t>(dir.size()) >= sizeof g_dumpDir) return false;
    std::memcpy(g_dumpDir, dir.constData(), dir.size());
    g_dumpDir[dir.size()] = '\0';
    g_dumpDirLen = dir.size();

    // backtrace() loads libgcc on first use; do that now, not inside the handler.
    void* warmup[2];
    ::backtrace(warmup, 2);

    stack_t stack{};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    if (::sigaltstack(&stack, nullptr) != 0) return false;

    struct sigaction action {};
    action.sa_sigaction = onCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) {
        if (::sigaction(sig, &action, nullptr) != 0) return false;
    }
    return true;
}
