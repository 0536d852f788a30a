#include "core/ProcessMetrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <QCoreApplication>

#include "core/MetricsRegistry.h"

namespace {

prometheus::MetricFamily gauge(const char* name, const char* help, double value) {
    return MetricsRegistry::reading(name, help, prometheus::MetricType::Gauge, value);
}

// Entries of /proc/self/fd less the one the listing itself holds open; -1 when unreadable.
int openDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count - 1;
}

// "Threads" and "VmRSS" (in kB) of /proc/self/status.
void readStatus(long& threads, long& residentKb) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 8, "Threads:") == 0)
            threads = std::strtol(line.c_str() + 8, nullptr, 10);
        if (line.compare(0, 6, "VmRSS:") == 0)
            residentKb = std::strtol(line.c_str() + 6, nullptr, 10);
    }
}

// Seconds since the epoch: the boot time plus the process's start in clock ticks after it.
double startTime() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The command name may hold spaces and parentheses: fields are counted after its end.
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return 0;
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string field;
    // Field 3 (the state) comes first; the start time is field 22.
    for (int i = 3; i < 22 && fields >> field;) ++i;
    unsigned long long ticks = 0;
    if (!(fields >> ticks)) return 0;
    std::ifstream systemStat("/proc/stat");
    std::string line;
    long long bootTime = 0;
    while (std::getline(systemStat, line))
        if (line.compare(0, 6, "btime ") == 0)
            bootTime = std::strtoll(line.c_str() + 6, nullptr, 10);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (bootTime == 0 || ticksPerSecond <= 0) return 0;
    return static_cast<double>(bootTime) + static_cast<double>(ticks) / ticksPerSecond;
}

}  // namespace

void ProcessMetrics::collect(std::vector<prometheus::MetricFamily>& out) {
    static const double started = startTime();
    const int descriptors = openDescriptors();
    if (descriptors >= 0)
        out.push_back(gauge("wayfarer_process_open_fds", "Open file descriptors.", descriptors));
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        out.push_back(gauge("wayfarer_process_max_fds", "The open-file limit (soft).",
                            static_cast<double>(files.rlim_cur)));
    long threads = -1;
    long residentKb = -1;
    readStatus(threads, residentKb);
    if (threads >= 0)
        out.push_back(gauge("wayfarer_process_threads", "Threads of the process.", threads));
    if (residentKb >= 0)
        out.push_back(gauge("wayfarer_process_resident_memory_bytes", "Resident memory size.",
                            static_cast<double>(residentKb) * 1024));
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) {
        const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        out.push_back(MetricsRegistry::reading("wayfarer_process_cpu_seconds_total",
                                               "User and system CPU time spent.",
                                               prometheus::MetricType::Counter, cpu));
    }
    if (started > 0)
        out.push_back(gauge("wayfarer_process_start_time_seconds",
                            "Start time of the process since the epoch.", started));

    prometheus::MetricFamily build =
        gauge("wayfarer_build_info", "The version of this build; always 1.", 1);
    const QString version = QCoreApplication::applicationVersion();
    build.metric.front().label.push_back(
        {"version", version.isEmpty() ? std::string("unknown") : version.toStdString()});
    out.push_back(build);
}
