// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/format/LogSection.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <new>
#include <string_view>

#include "logview/format/LogEncoding.h"
#include "logview/format/LogFileAccess.h"
#include "logview/format/LogLineReader.h"
#include "logview/format/LogLineStream.h"
#include "platform/AtomicFile.h"

namespace kv {

namespace {

constexpr int64_t kTimeLimit = int64_t{1} << 53; // times a double holds to the second
constexpr size_t kMarkerRoom = 128;              // the two time-only records in UTF-16
constexpr uint64_t kNone = UINT64_MAX;           // no record inside the section
constexpr size_t kTimeDigits = 24;               // an int64_t in decimal with its sign

// Every line whole, however long: the file is in memory already, and a long line must keep its
// place like any other.
constexpr LogReadLimits kWholeLines{SIZE_MAX, LogChunkBytes};

int64_t LineSeconds(std::string_view field) {
    const double t = std::trunc(ParseLogNumber(field));
    const auto limit = static_cast<double>(kTimeLimit);
    return static_cast<int64_t>(t < -limit ? -limit : t > limit ? limit : t);
}

enum class LineKind { Untimed, ZeroTime, Older, Inside, Newer };

// Builds the new bytes from the old ones, line by line: a line kept is copied byte for byte with
// the line feeds after it; a line dropped takes its CR and line feeds with it.
class SectionCutter {
public:
    SectionCutter(std::string_view bytes, int64_t start, int64_t end)
        : Bytes(bytes), Encoding(DetectLogEncoding(bytes)),
          Width(Encoding == LogEncoding::Utf16Le ? 2 : 1), Start(start), End(end),
          Length(end - start) {}

    // First pass: where the section's records lie.
    void Survey(const LogLine& line) {
        int64_t t = 0;
        if (Kind(line, t) != LineKind::Inside) return;
        if (FirstInside == kNone) {
            FirstInside = line.Begin;
            FirstInsideTime = t;
        }
        LastInside = line.Begin;
    }

    // Second pass: the new bytes up to the end of the line.
    void Add(const LogLine& line) {
        if (!DropGap) Out.append(Bytes.substr(Copied, line.Begin - Copied)); // line feeds
        DropGap = false;
        Copied = line.Begin;
        int64_t t = 0;
        const LineKind kind = Kind(line, t);
        const bool betweenRecords = line.Begin > FirstInside && line.Begin < LastInside;
        if (kind == LineKind::Inside || (kind == LineKind::Untimed && betweenRecords)) {
            if (line.Begin == FirstInside) {
                AppendTimeOnly(FirstInsideTime + Length);
                AppendTimeOnly(End);
            }
            Copied = line.End;
            DropGap = true;
        } else if (kind == LineKind::Older) {
            AppendEncoded(TimeText(t + Length));
            Copied = line.Begin + TimeFieldBytes(line);
        }
    }

    // The new bytes: the line feeds of a dropped last line go with it, an unfinished line stays.
    std::string Finish() {
        if (DropGap)
            while (Copied + Width <= Bytes.size() && Bytes[Copied] == '\n' &&
                   (Width == 1 || Bytes[Copied + 1] == '\0'))
                Copied += Width;
        Out.append(Bytes.substr(Copied));
        return std::move(Out);
    }

    void Reserve() { Out.reserve(Bytes.size() + kMarkerRoom); }

private:
    LineKind Kind(const LogLine& line, int64_t& t) const {
        const std::string_view time = SplitTimeField(line.Text).Time;
        if (time.empty()) return LineKind::Untimed;
        t = LineSeconds(time);
        if (t == 0) return LineKind::ZeroTime;
        return t < Start ? LineKind::Older : t > End ? LineKind::Newer : LineKind::Inside;
    }

    // Bytes of the time field in the file, up to its delimiter or the CR.
    size_t TimeFieldBytes(const LogLine& line) const {
        const std::string_view raw = Bytes.substr(line.Begin, line.End - Width - line.Begin);
        size_t at = 0;
        while (at < raw.size() &&
               !(IsLogFieldDelimiter(raw[at]) && (Width == 1 || raw[at + 1] == '\0')))
            at += Width;
        return at;
    }

    static std::string TimeText(int64_t seconds) {
        char text[kTimeDigits];
        const auto result = std::to_chars(text, text + sizeof text, seconds);
        return std::string(text, result.ptr);
    }

    void AppendEncoded(const std::string& ascii) { Out += EncodeLogText(ascii, Encoding); }
    void AppendTimeOnly(int64_t seconds) { AppendEncoded(TimeText(seconds) + "\r\n"); }

    const std::string_view Bytes;
    const LogEncoding Encoding;
    const size_t Width;
    const int64_t Start, End, Length;
    uint64_t FirstInside = kNone;
    uint64_t LastInside = 0;
    int64_t FirstInsideTime = 0;
    std::string Out;
    uint64_t Copied = 0;  // bytes before this are in Out or dropped
    bool DropGap = false; // the line feeds before the next line belong to a dropped line
};

} // namespace

SectionDeletion DeleteLogSection(const std::string& path, int64_t start, int64_t end,
                                 std::string& error) {
    if (start > end || start < -kTimeLimit || end > kTimeLimit)
        return SectionDeletion::NothingShown;
    try {
        std::string bytes;
        if (ReadWholeFile(path, MaxLogFileBytes, bytes, error) != FileReadResult::Read)
            return SectionDeletion::CannotRead;
        if (bytes.empty()) return SectionDeletion::EmptyFile;
        SectionCutter cutter(bytes, start, end);
        // Two passes: the first finds the section's lines, the second writes the rest.
        const auto eachLine = [&](void (SectionCutter::*step)(const LogLine&)) {
            ReadLogLines(
                bytes,
                [&](const LogLine& line) {
                    (cutter.*step)(line);
                    return true;
                },
                kWholeLines);
        };
        eachLine(&SectionCutter::Survey);
        cutter.Reserve();
        eachLine(&SectionCutter::Add);
        if (!WriteFileAtomically(path, cutter.Finish(), error)) return SectionDeletion::WriteFailed;
    } catch (const std::bad_alloc&) {
        error = "there is not enough memory for the log file";
        return SectionDeletion::WriteFailed;
    }
    return SectionDeletion::Deleted;
}

} // namespace kv
