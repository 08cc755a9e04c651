// SPDX-License-Identifier: GPL-3.0-or-later
#include "timebase/NtpTime.h"

#include <stdexcept>
#include <string>

namespace kv {
namespace {

constexpr int64_t kJdnUnixEpoch = 2440588; // 1970-01-01
constexpr int64_t kJdnNtpEpoch = 2415021;  // 1900-01-01
constexpr int64_t kJdnUtcEpoch = 2305814;  // 1601-01-01, origin of the 100 ns UTC scale
constexpr uint64_t k100nsPerDay = 864000000000ULL;
constexpr uint64_t k100nsPerSecond = 10000000;
constexpr uint64_t k100nsPerMillisecond = 10000;
// Whole days that fit the 64-bit 100 ns scale with a day to spare (about 58000 years).
constexpr uint64_t kMaxUtcDays = UINT64_MAX / k100nsPerDay - 1;
// Keeps every year GregorianFromJulianDay can produce inside an int.
constexpr int64_t kMaxAbsJdn = 700000000000LL;
// The lower 32 bits of a time stamp count 2^-32 s.
constexpr double kSecondsPerNtpUnit = 0x1p-32;

bool IsLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Floor division for the 400-year Gregorian cycle, valid for negative values too.
int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : (a - b + 1) / b;
}

void Require(bool ok, const std::string& what) {
    if (!ok) throw std::invalid_argument(what);
}

// Second 60 is accepted for a leap second.
void RequireTimeOfDay(const CalendarTime& t) {
    Require(t.Hour >= 0 && t.Hour <= 23, "invalid hour " + std::to_string(t.Hour));
    Require(t.Minute >= 0 && t.Minute <= 59, "invalid minute " + std::to_string(t.Minute));
    Require(t.Second >= 0 && t.Second <= 60, "invalid second " + std::to_string(t.Second));
    Require(t.Milliseconds >= 0 && t.Milliseconds <= 999,
            "invalid milliseconds " + std::to_string(t.Milliseconds));
}

// Day of the week of a Julian day number, 0 = Sunday (1900-01-01 was a Monday).
int DayOfWeek(int64_t jdn) {
    return static_cast<int>((jdn + 1) % 7);
}

CalendarTime CalendarFromDay(int64_t jdn, uint64_t secondOfDay, int milliseconds) {
    CalendarTime t{};
    GregorianFromJulianDay(jdn, t.Year, t.Month, t.Day);
    t.Hour = static_cast<int>(secondOfDay / 3600);
    t.Minute = static_cast<int>(secondOfDay / 60 % 60);
    t.Second = static_cast<int>(secondOfDay % 60);
    t.Milliseconds = milliseconds;
    t.DayOfWeek = DayOfWeek(jdn);
    return t;
}

} // namespace

int64_t JulianDayNumber(int year, int month, int day) {
    Require(month >= 1 && month <= 12, "invalid month " + std::to_string(month));
    Require(day >= 1 && day <= DaysInMonth(year, month), "invalid day " + std::to_string(day) +
                                                             " for " + std::to_string(year) + "-" +
                                                             std::to_string(month));
    // Count from 1 March so that the leap day ends the year (days-from-civil algorithm).
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = FloorDiv(y, 400);
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468 + kJdnUnixEpoch;
}

void GregorianFromJulianDay(int64_t jdn, int& year, int& month, int& day) {
    if (jdn > kMaxAbsJdn || jdn < -kMaxAbsJdn)
        throw std::out_of_range("Julian day number " + std::to_string(jdn) + " out of range");
    const int64_t z = jdn - kJdnUnixEpoch + 719468; // days since 0000-03-01
    const int64_t era = FloorDiv(z, 146097);
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153; // month counted from March
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

NtpTime NtpFromCalendar(const CalendarTime& t) {
    RequireTimeOfDay(t);
    const int64_t days = JulianDayNumber(t.Year, t.Month, t.Day) - kJdnNtpEpoch;
    const int64_t seconds = days * 86400 + t.Hour * 3600 + t.Minute * 60 + t.Second;
    // ms * 2^32 / 1000 is never exactly halfway, so adding 500 rounds to the nearest.
    const uint64_t fraction = (static_cast<uint64_t>(t.Milliseconds) << 32) + 500;
    return (static_cast<uint64_t>(static_cast<uint32_t>(seconds)) << 32) | (fraction / 1000);
}

CalendarTime CalendarFromNtp(NtpTime t) {
    const uint64_t seconds = t >> 32;
    const double fraction = static_cast<double>(t & 0xFFFFFFFFULL);
    const int ms = static_cast<int>(fraction * 1000.0 / 4294967295.0 + 0.5);
    return CalendarFromDay(static_cast<int64_t>(seconds / 86400) + kJdnNtpEpoch, seconds % 86400,
                           ms);
}

double NtpDifferenceSeconds(NtpTime a, NtpTime b) {
    // One rounding, in the conversion; scaling by a power of two is exact.
    return static_cast<double>(static_cast<int64_t>(a - b)) * kSecondsPerNtpUnit;
}

CalendarTime CalendarFromUtc100ns(uint64_t utc100ns) {
    const uint64_t inDay = utc100ns % k100nsPerDay;
    const int ms = static_cast<int>(inDay % k100nsPerSecond / k100nsPerMillisecond);
    return CalendarFromDay(static_cast<int64_t>(utc100ns / k100nsPerDay) + kJdnUtcEpoch,
                           inDay / k100nsPerSecond, ms);
}

uint64_t Utc100nsFromCalendar(const CalendarTime& t) {
    RequireTimeOfDay(t);
    const int64_t days = JulianDayNumber(t.Year, t.Month, t.Day) - kJdnUtcEpoch;
    Require(days >= 0 && static_cast<uint64_t>(days) < kMaxUtcDays,
            "date outside the 100 ns scale: year " + std::to_string(t.Year));
    const uint64_t seconds = static_cast<uint64_t>(t.Hour) * 3600 + t.Minute * 60 + t.Second;
    return static_cast<uint64_t>(days) * k100nsPerDay + seconds * k100nsPerSecond +
           static_cast<uint64_t>(t.Milliseconds) * k100nsPerMillisecond;
}

NtpTime NtpFromUtc100ns(uint64_t utc100ns) {
    constexpr uint64_t kSecondsFrom1601To1900 = (kJdnNtpEpoch - kJdnUtcEpoch) * 86400;
    const uint64_t seconds = utc100ns / k100nsPerSecond - kSecondsFrom1601To1900;
    // Below 2^24 * 2^32, so the product cannot overflow; adding half a unit rounds.
    const uint64_t fraction =
        ((utc100ns % k100nsPerSecond << 32) + k100nsPerSecond / 2) / k100nsPerSecond;
    return (static_cast<uint64_t>(static_cast<uint32_t>(seconds)) << 32) + fraction;
}

NtpTime NowNtp(bool useCounter, const TimestampClock& clock) {
    return NtpFromUtc100ns(useCounter ? clock.NowUtc() : clock.SystemUtc());
}

} // namespace kv
