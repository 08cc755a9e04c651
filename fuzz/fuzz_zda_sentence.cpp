// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the ZDA time fields a GPS receiver sends: any text is refused or gives a
// UTC time of a receiver's date range, and that time written back as ZDA fields parses to itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "FuzzCheck.h"
#include "references/Nmea.h"
#include "timebase/NtpTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using kv::fuzz::Require;
    const auto utc = kv::ParseZdaTime({reinterpret_cast<const char*>(data), size});
    if (!utc) return 0;
    const kv::CalendarTime t = kv::CalendarFromUtc100ns(*utc);
    // A fraction rounding up on the last second of 9999 carries into 10000.
    Require(t.Year >= 1601 && t.Year <= 10000, "the year lies in the receiver's range");
    char fields[64];
    std::snprintf(fields, sizeof fields, "%02d%02d%02d.%03d,%02d,%02d,%04d,", t.Hour, t.Minute,
                  t.Second, t.Milliseconds, t.Day, t.Month, t.Year);
    if (t.Year > 9999) return 0;
    Require(kv::ParseZdaTime(fields) == utc, "a time written as ZDA fields parses to itself");
    return 0;
}
