// SPDX-License-Identifier: GPL-3.0-or-later
// The reader's view of a log line: how the text is cut into lines and fields, and the
// annotation tags and filter markers a line may carry.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kv {

inline constexpr int LogValueFields = 8; // value fields a reader takes after the time field

// The lines of a log text. A line runs from after the line feeds that end the previous one to
// the next CR; it counts only when a character follows that CR, so a last line still being
// written (no CR LF yet) is left for the next read.
class LogLines {
public:
    explicit LogLines(std::string_view text) : Text(text) {}
    // The next line; false at the end of the text.
    bool Next(std::string_view& line);
    // After Next returned false: the text after the last line (an unfinished line, or empty).
    std::string_view Remainder() const { return Text.substr(At); }

private:
    std::string_view Text;
    size_t At = 0;
};

// Whether a character ends a field (see below).
constexpr bool IsLogFieldDelimiter(char c) {
    return c == '\t' || c == ',' || c == ' ' || c == ';';
}

// The fields of a line: the time and the values of traces 1 … 8. Fields end at a tab, comma,
// space or semicolon; a semicolon ends the fields, so what follows it is annotation. An empty or
// missing field holds no value.
struct LogFields {
    std::string_view Time;
    std::array<std::string_view, LogValueFields> Values;
};
LogFields SplitLogFields(std::string_view line);

// The time field and what follows it: `Delimiter` is the character that ended the time field
// ('\0' when the line holds nothing else) and `Rest` the text after it.
struct LogTimeSplit {
    std::string_view Time;
    char Delimiter = '\0';
    std::string_view Rest;
};
LogTimeSplit SplitTimeField(std::string_view line);

// A number field read like the C library's strtod in the "C" locale; a field that is not a
// number, and one that overflows, reads as 0.
double ParseLogNumber(std::string_view field);

// "<TAGn>text</TAG>" or "<TGGn>text</TAG>" anywhere in the line ("<TGG" is looked for first).
enum class TagKind { Note = 0, NoteWithLine = 1 };
struct LogTag {
    int Trace = 0; // 0 … 7: the digit modulo 8 when it alone stands before '>', else 0
    TagKind Kind = TagKind::Note;
    std::string_view Text;
};
std::optional<LogTag> FindLogTag(std::string_view line);

// "<FZn>" zeroes and "<FRn>" restarts the low-pass filter of trace n modulo 8; without the digit
// it applies to all traces. "<FZ" is looked for first.
enum class FilterMarkerKind { Zero, Restart };
struct FilterMarker {
    FilterMarkerKind Kind = FilterMarkerKind::Zero;
    int Trace = -1; // -1: all traces
};
std::optional<FilterMarker> FindFilterMarker(std::string_view line);

} // namespace kv
