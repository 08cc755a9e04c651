// SPDX-License-Identifier: GPL-3.0-or-later
// NMEA 0183 sentences exchanged with a SiRF GPS receiver: the PSRF103 rate commands written to it
// and the ZDA (UTC date and time) sentences read from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The six characters after "$" that start a ZDA sentence.
inline constexpr std::string_view kZdaPrefix = "GPZDA,";

// Exclusive-or of every character of the body (the text between "$" and "*").
uint8_t NmeaChecksum(std::string_view body);
// "$" + body + "*" + the checksum as two upper-case hexadecimal digits + "\r\n".
std::string FrameNmeaSentence(std::string_view body);

// The nine framed PSRF103 commands for messages 00 to 08 in order. For calibration (restore
// false) only message 8, ZDA, once a second; restoring the receiver's standard output, message 3
// every 5 seconds and every other message once a second.
std::vector<std::string> GpsMessageConfiguration(bool restore);

// The UTC time a ZDA sentence reports, as 100 ns units since 1601-01-01, from the text that
// follows "$GPZDA,": the fields time (hhmmss with optional decimal seconds), day, month and
// year, each non-empty and followed by a comma; what follows the year is not looked at. Numbers
// are rounded half away from zero, the whole second truncated. Nothing when a field is missing,
// is not a number, or the date or time does not exist.
std::optional<uint64_t> ParseZdaTime(std::string_view afterPrefix);

} // namespace kv
