// SPDX-License-Identifier: GPL-3.0-or-later
// A log clock the tests set by hand: the tick count, the Unix time and a UTC local zone.
#pragma once

#include <cstdint>
#include <utility>

#include "logging/LogWriter.h"

namespace kv::test {

class FakeLogClock : public LogClock {
public:
    uint32_t Tick = 100000;
    uint32_t TickStep = 0;     // added after each reading
    int64_t Unix = 1351951509; // 2012-11-03 14:05:09 UTC
    uint32_t TickMilliseconds() override { return std::exchange(Tick, Tick + TickStep); }
    int64_t UnixSeconds() override { return Unix; }
    // The local zone of these tests is UTC.
    CalendarTime LocalTime(int64_t s) override {
        constexpr int64_t kUnixEpochFrom1601 = 11644473600; // seconds
        constexpr uint64_t kTicksPerSecond = 10000000;      // 100 ns units
        return CalendarFromUtc100ns(static_cast<uint64_t>(s + kUnixEpochFrom1601) *
                                    kTicksPerSecond);
    }
};

} // namespace kv::test
