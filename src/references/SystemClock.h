// SPDX-License-Identifier: GPL-3.0-or-later
// Copying the reference time into the operating system's clock, in whole milliseconds.
#pragma once

#include <cstdint>

#include "platform/ClockSetter.h"
#include "timebase/NtpTime.h"

namespace kv {

// The reference time (100 ns units since 1601-01-01 UTC) as the clock is set to it: digits below
// the millisecond dropped.
NtpTime ReferenceTimeAsNtp(uint64_t utc100ns);

// Sets the system clock to time, rounded to whole milliseconds, through setter. True when the
// system accepted it; false leaves the clock unchanged (no right to change it, for example).
bool SetSystemClock(NtpTime time, SystemClockSetter& setter = PosixSystemClockSetter());

} // namespace kv
