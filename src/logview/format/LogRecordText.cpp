// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/format/LogRecordText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kv {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Average rates at or below this (s/d) are left out of the log: no watch runs that slow, the
// figure comes from a deviation measured over too short a time.
constexpr double LowestLoggedAverageRate = -9999.0;

// Appends a tab and, when `present`, the value.
void AppendField(std::string& out, bool present, double v) {
    out += '\t';
    if (present) AppendLogNumber(out, v);
}

double Amplitude(const LogReadings& r) {
    const double lift = r.LiftSum / r.LiftCount;
    return r.LiftAngle / (2.0 * std::sin(0.5 * M_PI * lift / r.BeatPeriod));
}

} // namespace

void AppendLogNumber(std::string& out, double v) {
    if (!std::isfinite(v)) return;
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    out.append(text, result.ptr);
}

void AppendTimeField(std::string& out, int64_t unixSeconds) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, unixSeconds);
    out.append(text, result.ptr);
}

void AppendValueFields(std::string& out, const LogReadings& r) {
    const bool elapsed = r.TickElapsed > r.BeatPeriod;
    const double averageRate = elapsed ? r.Deviation / r.TickElapsed * kSecondsPerDay : 0.0;
    AppendField(out, r.RateWindowFull, r.Rate * kSecondsPerDay);
    AppendField(out, r.LiftCount > 0 && !r.Pendulum, r.LiftCount > 0 ? Amplitude(r) : 0.0);
    AppendField(out, true, r.Deviation);
    AppendField(out, true, r.Temperature);
    AppendField(out, elapsed && averageRate > LowestLoggedAverageRate, averageRate);
    AppendField(out, r.BeatErrorCount > 0,
                r.BeatErrorCount > 0 ? r.BeatErrorSum / r.BeatErrorCount * r.BeatPeriod : 0.0);
    AppendField(out, true, r.Pressure);
}

void AppendDateText(std::string& out, const CalendarTime& t) {
    char text[64];
    const int year = (t.Year % 100 + 100) % 100;
    const int n = std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t.Day, t.Month,
                                year, t.Hour, t.Minute, t.Second);
    if (n > 0) out.append(text, static_cast<size_t>(n) < sizeof text ? n : sizeof text - 1);
}

} // namespace kv
