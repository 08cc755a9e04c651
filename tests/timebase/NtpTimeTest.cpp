// SPDX-License-Identifier: GPL-3.0-or-later
#include "timebase/NtpTime.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <tuple>

namespace kv {
namespace {

namespace chr = std::chrono;

constexpr int64_t kJdnUnixEpoch = 2440588;
constexpr uint64_t kNtpUnixEpoch = 2208988800ULL; // NTP seconds at 1970-01-01

NtpTime Ntp(uint64_t seconds, uint64_t fraction = 0) {
    return seconds << 32 | fraction;
}

// Independent reference: the C++20 calendar of the standard library.
chr::year_month_day DateOfJdn(int64_t jdn) {
    return chr::year_month_day{chr::sys_days{chr::days{jdn - kJdnUnixEpoch}}};
}

void ExpectCalendar(const CalendarTime& t, int y, int mo, int d, int h, int mi, int s, int ms,
                    int dow) {
    EXPECT_EQ(t.Year, y);
    EXPECT_EQ(t.Month, mo);
    EXPECT_EQ(t.Day, d);
    EXPECT_EQ(t.Hour, h);
    EXPECT_EQ(t.Minute, mi);
    EXPECT_EQ(t.Second, s);
    EXPECT_EQ(t.Milliseconds, ms);
    EXPECT_EQ(t.DayOfWeek, dow);
}

TEST(JulianDay, KnownDates) {
    EXPECT_EQ(JulianDayNumber(1900, 1, 1), 2415021);
    EXPECT_EQ(JulianDayNumber(1970, 1, 1), 2440588);
    EXPECT_EQ(JulianDayNumber(2000, 1, 1), 2451545);
    EXPECT_EQ(JulianDayNumber(1601, 1, 1), 2305814);
    EXPECT_EQ(JulianDayNumber(-4713, 11, 24), 0); // day 0 in the proleptic Gregorian calendar
}

void ExpectJdnMatchesStandardCalendar(int64_t jdn) {
    int y = 0, m = 0, d = 0;
    GregorianFromJulianDay(jdn, y, m, d);
    const auto ref = DateOfJdn(jdn);
    ASSERT_EQ(y, static_cast<int>(ref.year())) << jdn;
    ASSERT_EQ(m, static_cast<int>(static_cast<unsigned>(ref.month()))) << jdn;
    ASSERT_EQ(d, static_cast<int>(static_cast<unsigned>(ref.day()))) << jdn;
    ASSERT_EQ(JulianDayNumber(y, m, d), jdn);
}

TEST(JulianDay, RoundTripsAgainstTheStandardCalendar) {
    // Every day of the Gregorian era so far and beyond, then a coarse stride over 20000 years.
    for (int64_t jdn = JulianDayNumber(1582, 10, 15); jdn <= JulianDayNumber(2600, 12, 31); ++jdn) {
        ExpectJdnMatchesStandardCalendar(jdn);
        if (HasFatalFailure()) return;
    }
    for (int64_t jdn = JulianDayNumber(-10000, 1, 1); jdn <= JulianDayNumber(10000, 12, 31);
         jdn += 97) {
        ExpectJdnMatchesStandardCalendar(jdn);
        if (HasFatalFailure()) return;
    }
}

TEST(JulianDay, CenturyLeapRules) {
    EXPECT_EQ(JulianDayNumber(1900, 3, 1) - JulianDayNumber(1900, 2, 28), 1);
    EXPECT_EQ(JulianDayNumber(2000, 3, 1) - JulianDayNumber(2000, 2, 28), 2);
    EXPECT_EQ(JulianDayNumber(2100, 3, 1) - JulianDayNumber(2100, 2, 28), 1);
    EXPECT_EQ(JulianDayNumber(2024, 3, 1) - JulianDayNumber(2024, 2, 28), 2);
    int y = 0, m = 0, d = 0;
    GregorianFromJulianDay(JulianDayNumber(2000, 2, 28) + 1, y, m, d);
    EXPECT_EQ(m * 100 + d, 229);
    EXPECT_THROW(JulianDayNumber(1900, 2, 29), std::invalid_argument);
    EXPECT_THROW(JulianDayNumber(2100, 2, 29), std::invalid_argument);
}

TEST(JulianDay, RejectsDatesThatDoNotExist) {
    EXPECT_THROW(JulianDayNumber(2024, 0, 1), std::invalid_argument);
    EXPECT_THROW(JulianDayNumber(2024, 13, 1), std::invalid_argument);
    EXPECT_THROW(JulianDayNumber(2024, 1, 0), std::invalid_argument);
    EXPECT_THROW(JulianDayNumber(2024, 4, 31), std::invalid_argument);
    int y = 0, m = 0, d = 0;
    EXPECT_THROW(GregorianFromJulianDay(INT64_MAX, y, m, d), std::out_of_range);
    EXPECT_THROW(GregorianFromJulianDay(INT64_MIN, y, m, d), std::out_of_range);
}

TEST(NtpTime, EpochAndEraWrap) {
    EXPECT_EQ(NtpFromCalendar({1900, 1, 1, 0, 0, 0, 0, 0}), 0u);
    EXPECT_EQ(NtpFromCalendar({1970, 1, 1, 0, 0, 0, 0, 0}), Ntp(kNtpUnixEpoch));
    EXPECT_EQ(NtpFromCalendar({2036, 2, 7, 6, 28, 15, 0, 0}), Ntp(0xFFFFFFFFULL));
    EXPECT_EQ(NtpFromCalendar({2036, 2, 7, 6, 28, 16, 0, 0}), 0u);
    EXPECT_EQ(NtpFromCalendar({2036, 2, 7, 6, 28, 17, 500, 0}), Ntp(1, 2147483648ULL));
    // Before 1900 the seconds wrap the other way.
    EXPECT_EQ(NtpFromCalendar({1899, 12, 31, 23, 59, 59, 0, 0}), Ntp(0xFFFFFFFFULL));
}

TEST(NtpTime, MillisecondsBecomeTheNearestFractionAndBack) {
    EXPECT_EQ(NtpFromCalendar({1900, 1, 1, 0, 0, 0, 1, 0}), 4294967u);
    EXPECT_EQ(NtpFromCalendar({1900, 1, 1, 0, 0, 0, 2, 0}), 8589935u);
    EXPECT_EQ(NtpFromCalendar({1900, 1, 1, 0, 0, 0, 999, 0}), 4290672329u);
    for (int ms = 0; ms < 1000; ++ms) {
        const NtpTime t = NtpFromCalendar({2024, 6, 30, 23, 59, 59, ms, 0});
        EXPECT_EQ(t & 0xFFFFFFFFu, static_cast<uint64_t>(std::llround(ms * 4294967.296))) << ms;
        EXPECT_EQ(CalendarFromNtp(t).Milliseconds, ms);
    }
    // A fraction within half a millisecond of the next second rounds up to 1000.
    EXPECT_EQ(CalendarFromNtp(Ntp(5, 0xFFFFFFFFULL)).Milliseconds, 1000);
}

TEST(NtpTime, CalendarFromKnownTimes) {
    ExpectCalendar(CalendarFromNtp(0), 1900, 1, 1, 0, 0, 0, 0, 1);
    // 2024-03-15 12:34:56 UTC was a Friday.
    ExpectCalendar(CalendarFromNtp(Ntp(3919494896ULL, 3388729197ULL)), 2024, 3, 15, 12, 34, 56, 789,
                   5);
    // The last second of the first NTP era, a Thursday.
    ExpectCalendar(CalendarFromNtp(Ntp(0xFFFFFFFFULL)), 2036, 2, 7, 6, 28, 15, 0, 4);
}

TEST(NtpTime, CalendarRoundTripAgainstTheStandardCalendar) {
    std::mt19937_64 gen(2024);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t seconds = gen() & 0xFFFFFFFFULL;
        const int ms = static_cast<int>(gen() % 1000);
        ASSERT_EQ(NtpFromCalendar(CalendarFromNtp(Ntp(seconds))), Ntp(seconds));

        const chr::sys_seconds unix{
            chr::seconds{static_cast<int64_t>(seconds) - static_cast<int64_t>(kNtpUnixEpoch)}};
        const auto day = chr::floor<chr::days>(unix);
        const chr::year_month_day ymd{day};
        const chr::hh_mm_ss hms{unix - day};
        const CalendarTime expected{static_cast<int>(ymd.year()),
                                    static_cast<int>(static_cast<unsigned>(ymd.month())),
                                    static_cast<int>(static_cast<unsigned>(ymd.day())),
                                    static_cast<int>(hms.hours().count()),
                                    static_cast<int>(hms.minutes().count()),
                                    static_cast<int>(hms.seconds().count()),
                                    ms,
                                    static_cast<int>(chr::weekday{day}.c_encoding())};
        const NtpTime withMs = NtpFromCalendar(expected);
        ASSERT_EQ(withMs >> 32, seconds);
        const CalendarTime back = CalendarFromNtp(withMs);
        ExpectCalendar(back, expected.Year, expected.Month, expected.Day, expected.Hour,
                       expected.Minute, expected.Second, ms, expected.DayOfWeek);
        if (HasFailure()) break;
    }
}

TEST(NtpTime, RejectsFieldsOutOfRange) {
    const CalendarTime good{2024, 1, 1, 0, 0, 0, 0, 0};
    EXPECT_NO_THROW(NtpFromCalendar(good));
    auto with = [good](auto change) {
        CalendarTime t = good;
        change(t);
        return t;
    };
    EXPECT_THROW(NtpFromCalendar(with([](auto& t) { t.Hour = 24; })), std::invalid_argument);
    EXPECT_THROW(NtpFromCalendar(with([](auto& t) { t.Minute = -1; })), std::invalid_argument);
    EXPECT_THROW(NtpFromCalendar(with([](auto& t) { t.Second = 61; })), std::invalid_argument);
    EXPECT_THROW(NtpFromCalendar(with([](auto& t) { t.Milliseconds = 1000; })),
                 std::invalid_argument);
    EXPECT_THROW(NtpFromCalendar(with([](auto& t) { t.Month = 2, t.Day = 30; })),
                 std::invalid_argument);
}

// A fraction scaled by 1/(2^32 - 1) skews every offset; an unsigned difference puts times either
// side of the 2036 wrap 136 years apart. 68 years is the furthest apart either way.
TEST(NtpTime, DifferenceIsExactSignedAndEraAware) {
    const std::tuple<NtpTime, NtpTime, double> cases[] = {
        {Ntp(5, 0x80000000ULL), Ntp(3), 2.5},
        {Ntp(3), Ntp(5, 0x80000000ULL), -2.5},
        {Ntp(5), Ntp(4, 0xC0000000ULL), 0.25},
        {Ntp(0, 0xFFFFFFFFULL), 0, 1.0 - 0x1p-32},
        {Ntp(1), Ntp(0xFFFFFFFFULL), 2.0},
        {Ntp(0xFFFFFFFFULL, 0xC0000000ULL), Ntp(0, 0x40000000ULL), -0.5},
        {Ntp(0x7FFFFFFFULL), 0, 2147483647.0},
        {Ntp(0x80000000ULL), 0, -2147483648.0}};
    for (const auto& [a, b, seconds] : cases)
        EXPECT_EQ(NtpDifferenceSeconds(a, b), seconds) << std::hex << a << " - " << b;
}

TEST(NtpTime, CalendarFromUtcDropsDigitsBelowTheMillisecond) {
    ExpectCalendar(CalendarFromUtc100ns(0), 1601, 1, 1, 0, 0, 0, 0, 1);
    const uint64_t unixEpoch = 11644473600ULL * 10000000ULL;
    const uint64_t t = unixEpoch + 864000000000ULL + ((3 * 60 + 4) * 60 + 5) * 10000000ULL +
                       6789999; // 678.9999 ms
    ExpectCalendar(CalendarFromUtc100ns(t), 1970, 1, 2, 3, 4, 5, 678, 5);
    ExpectCalendar(CalendarFromUtc100ns(t + 1), 1970, 1, 2, 3, 4, 5, 679, 5);
}

TEST(NtpTime, UtcFromCalendarInvertsCalendarFromUtc) {
    const uint64_t unixEpoch = 11644473600ULL * 10000000ULL;
    CalendarTime epoch{};
    epoch.Year = 1970, epoch.Month = 1, epoch.Day = 1;
    EXPECT_EQ(Utc100nsFromCalendar(epoch), unixEpoch);
    std::mt19937_64 random(17);
    for (int i = 0; i < 2000; ++i) {
        // Whole milliseconds from 1601 to about 3000.
        const uint64_t t = random() % (440000ULL * 864000000000ULL) / 10000 * 10000;
        EXPECT_EQ(Utc100nsFromCalendar(CalendarFromUtc100ns(t)), t);
    }
    CalendarTime leap = epoch;
    leap.Second = 60; // counts into the next minute
    EXPECT_EQ(Utc100nsFromCalendar(leap), unixEpoch + 60 * 10000000ULL);
    CalendarTime early = epoch;
    early.Year = 1600, early.Month = 12, early.Day = 31;
    EXPECT_THROW(Utc100nsFromCalendar(early), std::invalid_argument);
    CalendarTime late = epoch;
    late.Year = 100000;
    EXPECT_THROW(Utc100nsFromCalendar(late), std::invalid_argument);
    CalendarTime badHour = epoch;
    badHour.Hour = 24;
    EXPECT_THROW(Utc100nsFromCalendar(badHour), std::invalid_argument);
}

class FixedClockSource : public ClockSource {
public:
    int64_t counter = 1'000'000'000;
    uint64_t utc = 0;
    int64_t ReadCounter() override { return counter; }
    double CounterFrequency() override { return 1e9; }
    uint64_t SystemUtc100ns() override { return utc; }
};

// Fault: T1 and T4 were cut to the millisecond, a quantisation of +-0.5 ms in every offset.
TEST(NtpTime, NowFromTheTimestampClockOrTheSystemClockTo100ns) {
    FixedClockSource src;
    // 2024-03-15 12:34:56.7894321 UTC in 100 ns units since 1601.
    src.utc = (1710506096ULL + 11644473600ULL) * 10000000ULL + 7894321;
    TimestampClock clock(src);
    const NtpTime expected = Ntp(3919494896ULL, 3390585052ULL); // ...56.7894321
    EXPECT_EQ(NowNtp(true, clock), expected);
    EXPECT_EQ(NowNtp(false, clock), expected);

    clock.StepClock(2.0);
    EXPECT_EQ(NowNtp(true, clock), expected + Ntp(2));
    EXPECT_EQ(NowNtp(false, clock), expected);
    src.counter += 500'000'000;
    EXPECT_EQ(NowNtp(true, clock), Ntp(3919494899ULL, 1243101404ULL)); // ...59.2894321
}

TEST(NtpTime, NowOnTheRealClocksAgree) {
    const double apart = NtpDifferenceSeconds(NowNtp(true), NowNtp(false));
    EXPECT_LT(std::fabs(apart), 1.0);
}

} // namespace
} // namespace kv
