// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Priority.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv {

namespace {

// Nice values run from -20 (most urgent) to 19; RLIMIT_NICE counts from 20 down.
constexpr int MostUrgentNice = -20;
constexpr int NiceLimitBase = 20;

uint64_t SoftLimit(int resource) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0) return 0;
    if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(limit.rlim_cur);
}

id_t CallingThreadId() {
    return static_cast<id_t>(syscall(SYS_gettid));
}

class PosixScheduling final : public SchedulingSystem {
public:
    SchedulingLimits Limits() const override {
        SchedulingLimits limits;
        limits.Privileged = geteuid() == 0;
        limits.RealTimeLimit = SoftLimit(RLIMIT_RTPRIO);
        limits.NiceLimit = SoftLimit(RLIMIT_NICE);
        limits.LowestRealTimePriority = sched_get_priority_min(SCHED_FIFO);
        limits.HighestRealTimePriority = sched_get_priority_max(SCHED_FIFO);
        return limits;
    }

    int SetRealTimePriority(int priority) override {
        sched_param param{};
        param.sched_priority = priority;
        return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    }

    // getpriority may legitimately return -1, so errno tells a failure apart.
    std::optional<int> Nice() const override {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, CallingThreadId());
        if (errno != 0) return std::nullopt;
        return nice;
    }

    int SetNice(int nice) override {
        return setpriority(PRIO_PROCESS, CallingThreadId(), nice) == 0 ? 0 : errno;
    }
};

bool IsPermissionRefusal(int error) {
    return error == EPERM || error == EACCES;
}

int HighestPermittedRealTime(const SchedulingLimits& limits) {
    if (limits.Privileged) return limits.HighestRealTimePriority;
    const auto highest = static_cast<uint64_t>(std::max(limits.HighestRealTimePriority, 0));
    return static_cast<int>(std::min(limits.RealTimeLimit, highest));
}

// Asks for `wanted`, or stays where it is when the thread already runs at least as urgently.
PriorityOutcome LowerNiceTo(SchedulingSystem& system, int wanted) {
    const std::optional<int> current = system.Nice();
    if (!current) return PriorityOutcome::Failed;
    if (wanted >= *current) return PriorityOutcome::HeldAtLimit;
    const int error = system.SetNice(wanted);
    if (error == 0) return PriorityOutcome::Raised;
    return IsPermissionRefusal(error) ? PriorityOutcome::HeldAtLimit : PriorityOutcome::Failed;
}

} // namespace

SchedulingSystem& SystemScheduling() {
    static PosixScheduling system;
    return system;
}

int LowestPermittedNice(const SchedulingLimits& limits) {
    if (limits.Privileged) return MostUrgentNice;
    constexpr auto widestRange = static_cast<uint64_t>(NiceLimitBase - MostUrgentNice);
    return NiceLimitBase - static_cast<int>(std::min(limits.NiceLimit, widestRange));
}

PriorityOutcome RaiseProcessPriority(SchedulingSystem& system) {
    const int wanted = std::max(HighPriorityNice, LowestPermittedNice(system.Limits()));
    return LowerNiceTo(system, wanted);
}

PriorityOutcome RaiseCurrentThreadPriority(SchedulingSystem& system) {
    const SchedulingLimits limits = system.Limits();
    const int realTime = HighestPermittedRealTime(limits);
    if (realTime >= limits.LowestRealTimePriority && system.SetRealTimePriority(realTime) == 0)
        return PriorityOutcome::Raised;
    return LowerNiceTo(system, LowestPermittedNice(limits));
}

bool PinCurrentThreadToFirstCpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

} // namespace kv
