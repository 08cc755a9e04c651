// SPDX-License-Identifier: GPL-3.0-or-later
#include "references/Nmea.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "timebase/NtpTime.h"

namespace kv {
namespace {

constexpr int kConfiguredMessages = 9; // PSRF103 message numbers 00 (GGA) to 08 (ZDA)
constexpr int kZdaMessage = 8;
constexpr int kGsvMessage = 3; // satellites in view: every 5 s in the standard output
constexpr uint64_t k100nsPerMillisecond = 10000;
constexpr int kMillisecondsPerSecond = 1000;
// The 100 ns UTC scale starts in 1601; later than 9999 is no receiver's date.
constexpr double kEarliestYear = 1601;
constexpr double kLatestYear = 9999;
constexpr double kSecondsLimit = 61; // a leap second is second 60
constexpr size_t kTwoDigits = 2;     // hh and mm of the time field

// Rate fields of PSRF103: seconds between outputs, 00 = off.
constexpr const char* kRateOff = "00";
constexpr const char* kRateEverySecond = "01";
constexpr const char* kRateEveryFiveSeconds = "05";

// The whole field as a finite decimal number.
std::optional<double> ParseDecimal(std::string_view field) {
    double value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A field rounded half away from zero, within [low, high].
std::optional<int> ParseRounded(std::string_view field, double low, double high) {
    const std::optional<double> value = ParseDecimal(field);
    if (!value) return std::nullopt;
    const double rounded = std::round(*value);
    if (rounded < low || rounded > high) return std::nullopt;
    return static_cast<int>(rounded);
}

// Splits off the next field: it must be non-empty and end in a comma.
std::optional<std::string_view> NextField(std::string_view& rest) {
    const size_t comma = rest.find(',');
    if (comma == 0 || comma == std::string_view::npos) return std::nullopt;
    const std::string_view field = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    return field;
}

struct TimeOfDay {
    int Hour, Minute;
    double Seconds;
};

// hhmmss with optional decimal seconds.
std::optional<TimeOfDay> ParseTimeField(std::string_view field) {
    constexpr size_t kHourMinuteDigits = 2 * kTwoDigits;
    if (field.size() <= kHourMinuteDigits) return std::nullopt;
    const auto hour = ParseRounded(field.substr(0, kTwoDigits), 0, 23);
    const auto minute = ParseRounded(field.substr(kTwoDigits, kTwoDigits), 0, 59);
    const auto seconds = ParseDecimal(field.substr(kHourMinuteDigits));
    if (!hour || !minute || !seconds || *seconds < 0 || *seconds >= kSecondsLimit)
        return std::nullopt;
    return TimeOfDay{*hour, *minute, *seconds};
}

} // namespace

uint8_t NmeaChecksum(std::string_view body) {
    uint8_t sum = 0;
    for (const char c : body)
        sum ^= static_cast<uint8_t>(c);
    return sum;
}

std::string FrameNmeaSentence(std::string_view body) {
    std::array<char, 6> trailer{}; // "*XX\r\n" and the terminating zero
    std::snprintf(trailer.data(), trailer.size(), "*%02X\r\n", NmeaChecksum(body));
    return "$" + std::string(body) + trailer.data();
}

std::vector<std::string> GpsMessageConfiguration(bool restore) {
    std::vector<std::string> sentences;
    for (int message = 0; message < kConfiguredMessages; ++message) {
        const char* rate = restore
                               ? (message == kGsvMessage ? kRateEveryFiveSeconds : kRateEverySecond)
                               : (message == kZdaMessage ? kRateEverySecond : kRateOff);
        std::array<char, 32> body{};
        std::snprintf(body.data(), body.size(), "PSRF103,%02d,00,%s,01", message, rate);
        sentences.push_back(FrameNmeaSentence(body.data()));
    }
    return sentences;
}

std::optional<uint64_t> ParseZdaTime(std::string_view rest) {
    const auto time = NextField(rest);
    const auto day = NextField(rest);
    const auto month = NextField(rest);
    const auto year = NextField(rest);
    if (!time || !day || !month || !year) return std::nullopt;
    const auto clock = ParseTimeField(*time);
    const auto dayNumber = ParseRounded(*day, 1, 31);
    const auto monthNumber = ParseRounded(*month, 1, 12);
    const auto yearNumber = ParseRounded(*year, kEarliestYear, kLatestYear);
    if (!clock || !dayNumber || !monthNumber || !yearNumber) return std::nullopt;
    const double wholeSecond = std::trunc(clock->Seconds);
    // Up to 1000: a fraction that rounds up to the next second carries into it.
    const auto milliseconds =
        static_cast<uint64_t>(std::round((clock->Seconds - wholeSecond) * kMillisecondsPerSecond));
    CalendarTime t{};
    t.Year = *yearNumber;
    t.Month = *monthNumber;
    t.Day = *dayNumber;
    t.Hour = clock->Hour;
    t.Minute = clock->Minute;
    t.Second = static_cast<int>(wholeSecond);
    try {
        return Utc100nsFromCalendar(t) + milliseconds * k100nsPerMillisecond;
    } catch (const std::invalid_argument&) {
        return std::nullopt; // a day the month does not have
    }
}

} // namespace kv
