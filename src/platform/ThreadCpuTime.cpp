// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ThreadCpuTime.h"

#include <ctime>
#include <pthread.h>

namespace kv {

namespace {
constexpr double SecondsPerNanosecond = 1e-9;
} // namespace

double ThreadCpuSeconds(std::thread::native_handle_type thread) {
    clockid_t clock{};
    timespec used{};
    if (pthread_getcpuclockid(thread, &clock) != 0) return 0.0;
    if (clock_gettime(clock, &used) != 0) return 0.0;
    return static_cast<double>(used.tv_sec) +
           static_cast<double>(used.tv_nsec) * SecondsPerNanosecond;
}

} // namespace kv
