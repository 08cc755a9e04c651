// SPDX-License-Identifier: GPL-3.0-or-later
// The text of one log record: the time field, the seven value fields of a full record, the
// readable date, and the UTF-16 little-endian encoding the log file is written in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "logview/format/LogEncoding.h"
#include "timebase/NtpTime.h"

namespace kv {

// The readings a full record is built from.
struct LogReadings {
    double Rate = 0.0; // fraction, s/s
    bool RateWindowFull = false;
    double Deviation = 0.0;   // s
    double TickElapsed = 0.0; // s
    double BeatPeriod = 0.2;  // s
    double LiftAngle = 52.0;  // degrees
    bool Pendulum = false;
    double LiftSum = 0.0; // lift times, s
    int LiftCount = 0;
    double BeatErrorSum = 0.0; // signed fractions of the beat period
    int BeatErrorCount = 0;
    double Temperature = 0.0; // °C
    double Pressure = 0.0;    // mB
};

// Appends v as C "%g" does in the C locale, whatever the process locale is (a decimal comma would
// split the field). A value that is not finite is left out, so its field stays empty.
void AppendLogNumber(std::string& out, double v);

// Appends the time field: whole seconds since 1970-01-01 UTC.
void AppendTimeField(std::string& out, int64_t unixSeconds);

// Appends the seven value fields, each after its tab; a field without a value keeps its tab.
void AppendValueFields(std::string& out, const LogReadings& r);

// Appends the date as "dd/mm/yy HH:MM:SS".
void AppendDateText(std::string& out, const CalendarTime& t);

} // namespace kv
