// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ClockSetter.h"

#include <ctime>

namespace kv {
namespace {

// 100 ns units from 1601-01-01 (the UTC scale of the timestamp clock) to 1970-01-01.
constexpr uint64_t kUnixEpochIn100ns = 11644473600ULL * 10000000ULL;
constexpr uint64_t k100nsPerSecond = 10000000;
constexpr long kNanosecondsPer100ns = 100;

class PosixClockSetter final : public SystemClockSetter {
public:
    bool SetUtc(uint64_t utc100ns) override {
        if (utc100ns < kUnixEpochIn100ns) return false; // before 1970: not a realtime value
        const uint64_t sinceEpoch = utc100ns - kUnixEpochIn100ns;
        timespec when{};
        when.tv_sec = static_cast<time_t>(sinceEpoch / k100nsPerSecond);
        when.tv_nsec = static_cast<long>(sinceEpoch % k100nsPerSecond) * kNanosecondsPer100ns;
        return ::clock_settime(CLOCK_REALTIME, &when) == 0;
    }
};

} // namespace

SystemClockSetter& PosixSystemClockSetter() {
    static PosixClockSetter setter;
    return setter;
}

} // namespace kv
