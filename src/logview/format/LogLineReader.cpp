// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/format/LogLineReader.h"

#include <charconv>
#include <cmath>

#include "text/NumberText.h"

namespace kv {

namespace {

constexpr int kTraceDigitModulus = 8; // a digit 8 or 9 names trace 0 or 1

// Position of the first of `first` or else of `second` in the line.
size_t FindPreferred(std::string_view line, std::string_view first, std::string_view second) {
    if (line.find('<') == std::string_view::npos) return std::string_view::npos;
    const size_t at = line.find(first);
    return at != std::string_view::npos ? at : line.find(second);
}

int DigitTrace(char digit) {
    return (digit - '0') % kTraceDigitModulus;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool LogLines::Next(std::string_view& line) {
    while (At < Text.size() && Text[At] == '\n')
        ++At;
    const size_t cr = Text.find('\r', At);
    if (cr == std::string_view::npos || cr + 1 >= Text.size()) return false;
    line = Text.substr(At, cr - At);
    At = cr + 1;
    return true;
}

LogTimeSplit SplitTimeField(std::string_view line) {
    size_t end = 0;
    while (end < line.size() && !IsLogFieldDelimiter(line[end]))
        ++end;
    if (end == line.size()) return {line, '\0', {}};
    return {line.substr(0, end), line[end], line.substr(end + 1)};
}

LogFields SplitLogFields(std::string_view line) {
    LogFields fields;
    size_t at = 0;
    const auto nextField = [&](std::string_view& field) {
        size_t end = at;
        while (end < line.size() && !IsLogFieldDelimiter(line[end]))
            ++end;
        field = line.substr(at, end - at);
        const bool more = end < line.size() && line[end] != ';';
        at = end + 1;
        return more;
    };
    if (!nextField(fields.Time)) return fields;
    for (std::string_view& value : fields.Values)
        if (!nextField(value)) break;
    return fields;
}

// A whole field that std::from_chars reads is a plain decimal number, read exactly as strtod
// reads it; anything else (a sign, blanks, hexadecimal, trailing text) goes the C library's way.
double ParseLogNumber(std::string_view field) {
    if (field.empty()) return 0.0;
    double value = 0.0;
    const char* end = field.data() + field.size();
    const auto result = std::from_chars(field.data(), end, value);
    if (result.ec == std::errc() && result.ptr == end) return std::isfinite(value) ? value : 0.0;
    return ParseLeadingDouble(field);
}

std::optional<LogTag> FindLogTag(std::string_view line) {
    constexpr size_t kOpeningLength = 4; // "<TAG" or "<TGG"
    const size_t open = FindPreferred(line, "<TGG", "<TAG");
    if (open == std::string_view::npos) return std::nullopt;
    const size_t close = line.find('>', open + kOpeningLength);
    if (close == std::string_view::npos) return std::nullopt;
    const size_t end = line.find("</TAG>", close + 1);
    if (end == std::string_view::npos) return std::nullopt;
    LogTag tag;
    tag.Kind = line[open + 2] == 'G' ? TagKind::NoteWithLine : TagKind::Note;
    const size_t digitAt = open + kOpeningLength;
    if (close == digitAt + 1 && IsDigit(line[digitAt])) tag.Trace = DigitTrace(line[digitAt]);
    tag.Text = line.substr(close + 1, end - close - 1);
    return tag;
}

std::optional<FilterMarker> FindFilterMarker(std::string_view line) {
    constexpr size_t kOpeningLength = 3; // "<FZ" or "<FR"
    const size_t open = FindPreferred(line, "<FZ", "<FR");
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view after = line.substr(open + kOpeningLength);
    FilterMarker marker;
    marker.Kind = line[open + 2] == 'Z' ? FilterMarkerKind::Zero : FilterMarkerKind::Restart;
    if (!after.empty() && after[0] == '>') return marker;
    if (after.size() >= 2 && IsDigit(after[0]) && after[1] == '>') {
        marker.Trace = DigitTrace(after[0]);
        return marker;
    }
    return std::nullopt;
}

} // namespace kv
