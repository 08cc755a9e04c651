// SPDX-License-Identifier: GPL-3.0-or-later
// 64-bit NTP time stamps and the Gregorian calendar arithmetic behind them.
#pragma once

#include <cstdint>

#include "timebase/SampleClock.h"

namespace kv {

// Upper 32 bits: whole seconds since 1900-01-01 00:00 UTC; lower 32 bits: the fraction of a
// second in units of 2^-32 s. Values compare as plain unsigned integers.
using NtpTime = uint64_t;

struct CalendarTime {
    int Year, Month, Day, Hour, Minute, Second, Milliseconds, DayOfWeek; // DayOfWeek 0 = Sunday
};

// Exact integer Gregorian date -> Julian day number (1900-01-01 = 2415021), any year.
// Throws std::invalid_argument for a month or day that does not exist.
int64_t JulianDayNumber(int year, int month, int day);
// The inverse. Throws std::out_of_range when the year would not fit an int.
void GregorianFromJulianDay(int64_t jdn, int& year, int& month, int& day);

// Seconds are taken modulo 2^32 (so 2036-02-07 06:28:16 wraps to 0); milliseconds become the
// nearest binary fraction. DayOfWeek is ignored. Throws std::invalid_argument for fields out of
// range (second 60 is accepted for a leap second).
NtpTime NtpFromCalendar(const CalendarTime& t);
// Milliseconds are rounded from the fraction, so a fraction within half a millisecond of the next
// second gives 1000.
CalendarTime CalendarFromNtp(NtpTime t);
// a - b in seconds, era-aware as in RFC 5905: the difference is taken modulo 2^64 and read as a
// signed number, so it is right across the 2036 wrap for any two times within 68 years of each
// other. The fraction counts 2^-32 s.
double NtpDifferenceSeconds(NtpTime a, NtpTime b);
// 100 ns since 1601-01-01 UTC -> calendar time; digits below the millisecond are dropped.
CalendarTime CalendarFromUtc100ns(uint64_t utc100ns);
// The inverse: calendar time (UTC) -> 100 ns since 1601-01-01; DayOfWeek is ignored and second 60
// counts into the next minute. Throws std::invalid_argument for fields out of range or a date
// outside 1601 to about 58000.
uint64_t Utc100nsFromCalendar(const CalendarTime& t);
// 100 ns since 1601-01-01 UTC -> NTP time with the full fraction (seconds modulo 2^32 as in
// NtpFromCalendar); the fraction is the nearest 2^-32 s, so nothing below the millisecond is lost.
NtpTime NtpFromUtc100ns(uint64_t utc100ns);
// The current time from the timestamp clock (useCounter) or from the system UTC clock, to 100 ns.
NtpTime NowNtp(bool useCounter, const TimestampClock& clock = ProcessTimestampClock());

} // namespace kv
