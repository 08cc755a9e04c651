// SPDX-License-Identifier: GPL-3.0-or-later
#include "references/SystemClock.h"

namespace kv {
namespace {

constexpr uint64_t k100nsPerMillisecond = 10000;

} // namespace

NtpTime ReferenceTimeAsNtp(uint64_t utc100ns) {
    return NtpFromCalendar(CalendarFromUtc100ns(utc100ns));
}

bool SetSystemClock(NtpTime time, SystemClockSetter& setter) {
    CalendarTime whole = CalendarFromNtp(time);
    // A fraction within half a millisecond of the next second rounds to 1000 ms: carry it.
    const uint64_t milliseconds = static_cast<uint64_t>(whole.Milliseconds);
    whole.Milliseconds = 0;
    return setter.SetUtc(Utc100nsFromCalendar(whole) + milliseconds * k100nsPerMillisecond);
}

} // namespace kv
