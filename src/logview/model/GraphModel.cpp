#include "logview/model/GraphModel.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "logview/format/LogEncoding.h"
#include "logview/format/LogFileAccess.h"
#include "logview/format/LogLineReader.h"
#include "logview/model/Spectrum.h"
#include "logview/model/TracePipeline.h"
#include "platform/FileAccess.h"

namespace kv {

namespace {

constexpr double kSecondsLimit = 9007199254740992.0; // 2^53: every whole second exact
constexpr int64_t kSecondsPerMinute = 60;

// Whole seconds of a record time, truncated, within the range a double holds exactly.
int64_t WholeSeconds(double t) {
    return static_cast<int64_t>(std::clamp(std::trunc(t), -kSecondsLimit, kSecondsLimit));
}

// The file as it is when the read starts; what is appended meanwhile waits for the next load.
GraphLoadStatus ReadLogFile(const std::string& path, std::string& bytes) {
    if (path.empty()) return GraphLoadStatus::NoFileName;
    const ScopedFile file(OpenFile(path, OpenMode::Read));
    if (file.Get() < 0) return GraphLoadStatus::CannotOpen;
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status) return GraphLoadStatus::ReadFailed;
    if (status->Kind != FileKind::Regular) return GraphLoadStatus::NotAFile;
    if (status->Size > MaxLogFileBytes) return GraphLoadStatus::TooLarge;
    bytes.resize(status->Size);
    const std::optional<size_t> got = ReadAt(file.Get(), bytes.data(), bytes.size(), 0);
    if (!got) return GraphLoadStatus::ReadFailed;
    bytes.resize(*got); // a file cut short meanwhile
    return GraphLoadStatus::Loaded;
}

GraphTag MakeTag(double t, const LogTag& tag) {
    return {t, static_cast<int16_t>(tag.Trace), std::string(tag.Text),
            tag.Kind == TagKind::NoteWithLine ? GraphTagKind::NoteWithLine : GraphTagKind::Note};
}

} // namespace

std::string GraphLoadMessage(GraphLoadStatus status, const std::string& path) {
    switch (status) {
    case GraphLoadStatus::Loaded:
        return "";
    case GraphLoadStatus::NoFileName:
        return "No log file has been chosen.";
    case GraphLoadStatus::CannotOpen:
        return "The log file " + path + " cannot be opened.";
    case GraphLoadStatus::NotAFile:
        return path + " is not a log file.";
    case GraphLoadStatus::TooLarge:
        return "The log file " + path + " is too large to show.";
    case GraphLoadStatus::ReadFailed:
        return "The log file " + path + " cannot be read.";
    }
    return "";
}

GraphLoadStatus GraphModel::LoadGraphData(const std::string& path, const GraphSettings& settings) {
    std::string bytes;
    const GraphLoadStatus status = ReadLogFile(path, bytes);
    if (status == GraphLoadStatus::Loaded) LoadGraphText(bytes, settings);
    return status;
}

void GraphModel::LoadGraphText(std::string_view fileBytes, const GraphSettings& settings) {
    const std::string text = DecodeLogText(fileBytes, DetectLogEncoding(fileBytes));
    Records.clear();
    Tags.clear();
    Window.DisplayEnd = 0;
    Window.DisplayStart = EndOfTime;
    Window.FirstRecordTime = 0;
    std::vector<TracePipeline> traces;
    traces.reserve(TraceCount);
    for (int i = 0; i < TraceCount; ++i)
        traces.emplace_back(settings.Traces[i], Results[i]);

    Records.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\r')));
    LogLines lines(text);
    for (std::string_view line; lines.Next(line);) {
        const LogFields fields = SplitLogFields(line);
        if (fields.Time.empty()) continue;
        const double t = ParseLogNumber(fields.Time);
        const int64_t seconds = WholeSeconds(t);
        if (Window.FirstRecordTime == 0) Window.FirstRecordTime = seconds;
        Window.LastRecordTime = seconds;
        if (t < static_cast<double>(Window.LeftMark) || t > static_cast<double>(Window.RightMark))
            continue;
        Window.DisplayStart = std::min(Window.DisplayStart, seconds);
        Window.DisplayEnd = std::max(Window.DisplayEnd, seconds);
        if (const std::optional<LogTag> tag = FindLogTag(line)) Tags.push_back(MakeTag(t, *tag));
        if (const std::optional<FilterMarker> marker = FindFilterMarker(line))
            for (int i = 0; i < TraceCount; ++i)
                if (marker->Trace < 0 || marker->Trace == i) traces[i].ApplyMarker(marker->Kind);
        GraphRecord& record = Records.emplace_back();
        record.Time = t;
        for (int i = 0; i < TraceCount; ++i)
            traces[i].Process(t, fields.Values[i], record.Value[i], record.Raw[i]);
    }

    SpectrumSize = 1;
    Spectrum.clear();
    if (SpectrumTrace >= 0) {
        Spectrum = ComputeSpectrum(Records, SpectrumTrace, Window.DisplayStart, Window.DisplayEnd);
        if (!Spectrum.empty()) SpectrumSize = static_cast<unsigned>(Spectrum.size());
    }
    for (int i = 0; i < TraceCount; ++i)
        traces[i].FinishLoad(Records, i);
}

void GraphModel::ApplySpan(int spanMinutes) {
    if (Window.SectionMarked || spanMinutes <= 0) return;
    Window.LeftMark = Window.LastRecordTime - kSecondsPerMinute * spanMinutes;
    Window.RightMark = EndOfTime;
}

} // namespace kv
