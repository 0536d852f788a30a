#include "core/OpenFileLimit.h"

#include <sys/resource.h>

OpenFileLimit raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    const auto clamp = [](rlim_t value) {
        return value == RLIM_INFINITY ? static_cast<long>(1) << 30 : static_cast<long>(value);
    };
    return {clamp(limit.rlim_cur), clamp(limit.rlim_max)};
}

long openFilesWanted(int maxConnCount) {
    return 2L * (maxConnCount > 0 ? maxConnCount : 0) + 256;
}
