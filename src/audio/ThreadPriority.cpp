#include "audio/ThreadPriority.h"

#include <algorithm>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv {

namespace {

bool TryRealTime() {
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0) return false;
    const int most = sched_get_priority_max(SCHED_FIFO);
    const int allowed =
        geteuid() == 0 ? most : static_cast<int>(std::min<rlim_t>(limit.rlim_cur, most));
    if (allowed < sched_get_priority_min(SCHED_FIFO)) return false;
    sched_param param{};
    param.sched_priority = allowed;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

// RLIMIT_NICE allows nice values down to 20 - limit.
bool TryNice() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0) return false;
    const int lowest =
        geteuid() == 0 ? -20 : 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, tid);
    return lowest < current && setpriority(PRIO_PROCESS, tid, lowest) == 0;
}

} // namespace

bool RaiseCurrentThreadPriority() {
    return TryRealTime() || TryNice();
}

bool PinCurrentThreadToFirstCpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

} // namespace kv
