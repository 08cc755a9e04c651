// SPDX-License-Identifier: GPL-3.0-or-later
// Scheduling: the process and its capture and output workers run as urgently as the user's limits
// allow (the "high priority class" and "time-critical threads" of a desktop timegrapher).
//
// The decisions are made over a small SchedulingSystem interface, so tests can put the logic at
// any limit without root rights; production code uses the POSIX implementation.
#pragma once

#include <cstdint>
#include <optional>

namespace kv {

enum class PriorityOutcome {
    Raised,      // the calling thread now runs at a higher priority
    HeldAtLimit, // already at, or refused beyond, what the user's limits permit: not a failure
    Failed,      // the system reported an unexpected error
};

// What the limits of the calling process permit.
struct SchedulingLimits {
    bool Privileged = false;        // effective user root: the limits do not bind
    uint64_t RealTimeLimit = 0;     // RLIMIT_RTPRIO soft limit (UINT64_MAX when unlimited)
    uint64_t NiceLimit = 0;         // RLIMIT_NICE soft limit: nice values down to 20 - limit
    int LowestRealTimePriority = 1; // SCHED_FIFO priority range
    int HighestRealTimePriority = 99;
};

// The system calls the priority logic needs, all on the calling thread. Error returns are errno
// values (0 for success).
class SchedulingSystem {
public:
    virtual ~SchedulingSystem() = default;
    virtual SchedulingLimits Limits() const = 0;
    virtual int SetRealTimePriority(int priority) = 0;
    virtual std::optional<int> Nice() const = 0;
    virtual int SetNice(int nice) = 0;
};

// The machine's own scheduler.
SchedulingSystem& SystemScheduling();

// The nice value the process asks for at start: a "high" class, well above normal programs.
inline constexpr int HighPriorityNice = -10;

// The lowest (most urgent) nice value the limits permit.
int LowestPermittedNice(const SchedulingLimits& limits);

// Start-up: lowers the calling thread's nice value to HighPriorityNice, or as far as the limits
// allow. Threads started afterwards inherit it.
PriorityOutcome RaiseProcessPriority(SchedulingSystem& system = SystemScheduling());

// Capture and output workers: SCHED_FIFO at the highest priority RLIMIT_RTPRIO permits, else the
// lowest nice value RLIMIT_NICE permits.
PriorityOutcome RaiseCurrentThreadPriority(SchedulingSystem& system = SystemScheduling());

// Pins the calling thread to CPU 0; returns false when the system refuses.
bool PinCurrentThreadToFirstCpu();

} // namespace kv
