#include "logview/format/LogSection.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "logview/format/LogEncoding.h"
#include "logview/format/LogFileAccess.h"
#include "logview/format/LogLineReader.h"
#include "settings/AtomicFile.h"

namespace kv {

namespace {

constexpr int64_t kTimeLimit = int64_t{1} << 53; // times a double holds to the second

int64_t LineSeconds(std::string_view field) {
    const double t = std::trunc(ParseLogNumber(field));
    const auto limit = static_cast<double>(kTimeLimit);
    return static_cast<int64_t>(t < -limit ? -limit : t > limit ? limit : t);
}

void AppendTime(std::string& out, int64_t seconds) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, seconds);
    out.append(text, result.ptr);
}

// Builds the new text line by line.
class SectionCutter {
public:
    SectionCutter(int64_t start, int64_t end) : Start(start), End(end), Length(end - start) {}

    void Add(std::string_view line, std::string& out) {
        const LogTimeSplit split = SplitTimeField(line);
        if (split.Time.empty()) return;
        const int64_t t = LineSeconds(split.Time);
        if (t == 0) return Copy(line, out);
        if (t < Start) return Moved(t + Length, split, out);
        if (t < End) {
            if (!SeenInside) TimeOnly(t + Length, out);
            SeenInside = true;
            return;
        }
        if (!SeenAfter)
            TimeOnly(t, out);
        else
            Copy(line, out);
        SeenAfter = true;
    }

private:
    static void Copy(std::string_view line, std::string& out) {
        out += line;
        out += "\r\n";
    }
    static void TimeOnly(int64_t t, std::string& out) {
        AppendTime(out, t);
        out += "\r\n";
    }
    // The line with its time moved. A semicolon after the time stays, so an annotation never
    // turns into value fields.
    static void Moved(int64_t t, const LogTimeSplit& split, std::string& out) {
        AppendTime(out, t);
        if (split.Delimiter != '\0') out += split.Delimiter == ';' ? ';' : '\t';
        out += split.Rest;
        out += "\r\n";
    }

    const int64_t Start, End, Length;
    bool SeenInside = false;
    bool SeenAfter = false;
};

} // namespace

SectionDeletion DeleteLogSection(const std::string& path, int64_t start, int64_t end,
                                 std::string& error) {
    if (start > end || start < -kTimeLimit || end > kTimeLimit)
        return SectionDeletion::NothingShown;
    std::string bytes;
    if (ReadWholeFile(path, MaxLogFileBytes, bytes, error) != FileReadResult::Read)
        return SectionDeletion::CannotRead;
    if (bytes.empty()) return SectionDeletion::EmptyFile;
    const LogEncoding encoding = DetectLogEncoding(bytes);
    const std::string text = DecodeLogText(bytes, encoding);
    std::string kept;
    kept.reserve(text.size());
    SectionCutter cutter(start, end);
    LogLines lines(text);
    for (std::string_view line; lines.Next(line);)
        cutter.Add(line, kept);
    kept += lines.Remainder(); // a line still without its line end is not the section's
    if (!WriteFileAtomically(path, EncodeLogText(kept, encoding), error))
        return SectionDeletion::WriteFailed;
    return SectionDeletion::Deleted;
}

} // namespace kv
