#include "core/OpenFileLimit.h"

#include <sys/resource.h>

#include <algorithm>

namespace {
constexpr long kMaxReserve = 1024;

long clamp(rlim_t value) {
    return value == RLIM_INFINITY ? static_cast<long>(1) << 30 : static_cast<long>(value);
}
}  // namespace

OpenFileLimit raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return {clamp(limit.rlim_cur), clamp(limit.rlim_max)};
}

OpenFileLimit currentOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
    return {clamp(limit.rlim_cur), clamp(limit.rlim_max)};
}

long reservedDescriptors(long openFiles) {
    return std::min(kMaxReserve, std::max(0L, openFiles) / 2);
}

long terminalBudget(long openFiles) {
    return std::max(0L, openFiles - reservedDescriptors(openFiles)) / kDescriptorsPerTerminal;
}

long openFilesWanted(int maxConnCount) {
    const long need = kDescriptorsPerTerminal * std::max(0, maxConnCount);
    if (need == 0) return 0;
    // While the reserve is half the limit, the terminals get ceil(limit / 2) descriptors.
    const long halfReserved = 2 * need - 1;
    return halfReserved < 2 * kMaxReserve ? halfReserved : need + kMaxReserve;
}
