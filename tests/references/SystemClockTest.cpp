// SPDX-License-Identifier: GPL-3.0-or-later
// Setting the system clock goes through the injected setter in whole milliseconds; the machine's
// own clock is never touched here.
#include "references/SystemClock.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

constexpr uint64_t k100nsPerMs = 10000;

uint64_t Noon(int extra100ns = 0) {
    CalendarTime t{};
    t.Year = 2026, t.Month = 12, t.Day = 9, t.Hour = 12;
    return Utc100nsFromCalendar(t) + extra100ns;
}

TEST(SystemClock, TheReferenceTimeIsSetInWholeMilliseconds) {
    RecordingClockSetter setter;
    // 12:00:00.0007: the digits below the millisecond are dropped.
    EXPECT_TRUE(SetSystemClock(ReferenceTimeAsNtp(Noon(7000)), setter));
    EXPECT_EQ(setter.LastSet(), Noon());
    EXPECT_TRUE(SetSystemClock(ReferenceTimeAsNtp(Noon(1239999)), setter));
    EXPECT_EQ(setter.LastSet(), Noon(123 * k100nsPerMs));
}

TEST(SystemClock, AnNtpTimeIsRoundedToTheNearestMillisecond) {
    RecordingClockSetter setter;
    const NtpTime noon = ReferenceTimeAsNtp(Noon());
    const auto fraction = [](double seconds) {
        return static_cast<NtpTime>(seconds * 4294967296.0);
    };
    EXPECT_TRUE(SetSystemClock(noon + fraction(0.0004), setter));
    EXPECT_EQ(setter.LastSet(), Noon());
    EXPECT_TRUE(SetSystemClock(noon + fraction(0.2506), setter));
    EXPECT_EQ(setter.LastSet(), Noon(251 * k100nsPerMs));
    // Within half a millisecond of the next second: that second, not a 1000th millisecond.
    EXPECT_TRUE(SetSystemClock(noon + fraction(0.9998), setter));
    EXPECT_EQ(setter.LastSet(), Noon(1000 * k100nsPerMs));
}

TEST(SystemClock, ARefusalIsReportedAndNothingChanges) {
    RecordingClockSetter refusing(false);
    EXPECT_FALSE(SetSystemClock(ReferenceTimeAsNtp(Noon()), refusing));
    EXPECT_EQ(refusing.Requests(), 1);
    EXPECT_FALSE(refusing.LastSet());
}

} // namespace
} // namespace kv
