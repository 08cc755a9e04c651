// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/model/GraphModel.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

#include "logview/format/LogFileAccess.h"
#include "logview/format/LogLineReader.h"
#include "logview/format/LogLineStream.h"
#include "logview/model/Spectrum.h"
#include "logview/model/TracePipeline.h"
#include "platform/FileAccess.h"
#include "text/NumberText.h"

namespace kv {

namespace {

constexpr double kSecondsLimit = 9007199254740992.0; // 2^53: every whole second exact
constexpr int64_t kSecondsPerMinute = 60;

// Whole seconds of a record time, truncated, within the range a double holds exactly.
int64_t WholeSeconds(double t) {
    return static_cast<int64_t>(std::clamp(std::trunc(t), -kSecondsLimit, kSecondsLimit));
}

GraphTag MakeTag(double t, const LogTag& tag) {
    return {t, static_cast<int16_t>(tag.Trace), std::string(tag.Text),
            tag.Kind == TagKind::NoteWithLine ? GraphTagKind::NoteWithLine : GraphTagKind::Note};
}

// Whether a line is a record whose time field is a decimal number other than 0, as every log
// has and other files hardly ever do.
bool IsTimedRecord(const LogLine& line) {
    const std::string_view time = SplitTimeField(line.Text).Time;
    double t = 0.0;
    return !time.empty() && time.find_first_not_of("+-.0123456789eE") == std::string_view::npos &&
           ParseWholeDouble(time, t) && t != 0.0;
}

enum class LogContent { NoLines, Log, Foreign, ReadFailed };

// Reads up to the first timed record, in a log its first line; another kind of file is read
// through without keeping anything.
LogContent Survey(const LogByteReader& read, uint64_t size) {
    bool anyLine = false;
    bool timed = false;
    const LogReadEnd end = ReadLogLines(read, size, [&](const LogLine& line) {
        anyLine = true;
        timed = IsTimedRecord(line);
        return !timed;
    });
    if (end == LogReadEnd::ReadFailed) return LogContent::ReadFailed;
    return timed ? LogContent::Log : anyLine ? LogContent::Foreign : LogContent::NoLines;
}

// One load's results, built beside the model and handed over only when the load succeeds.
class GraphLoad {
public:
    GraphLoad(const GraphModel& model, const GraphSettings& settings)
        : Window(model.Window), Results(model.Results) {
        Window.DisplayEnd = 0;
        Window.DisplayStart = EndOfTime;
        Window.FirstRecordTime = 0;
        // The previous load's count with room to grow: a log followed while it is written
        // rarely needs the records moved.
        Records.reserve(model.Records.size() + model.Records.size() / kGrowthShare + kMinRoom);
        Traces.reserve(TraceCount);
        for (int i = 0; i < TraceCount; ++i)
            Traces.emplace_back(settings.Traces[i], Results[i]);
    }
    GraphLoad(const GraphLoad&) = delete; // the pipelines hold references into Results
    GraphLoad& operator=(const GraphLoad&) = delete;

    void Add(std::string_view line) {
        const LogFields fields = SplitLogFields(line);
        if (fields.Time.empty()) return;
        const double t = ParseLogNumber(fields.Time);
        const int64_t seconds = WholeSeconds(t);
        if (Window.FirstRecordTime == 0) Window.FirstRecordTime = seconds;
        Window.LastRecordTime = seconds;
        if (t < static_cast<double>(Window.LeftMark) || t > static_cast<double>(Window.RightMark))
            return;
        Window.DisplayStart = std::min(Window.DisplayStart, seconds);
        Window.DisplayEnd = std::max(Window.DisplayEnd, seconds);
        if (const std::optional<LogTag> tag = FindLogTag(line)) Tags.push_back(MakeTag(t, *tag));
        if (const std::optional<FilterMarker> marker = FindFilterMarker(line))
            for (int i = 0; i < TraceCount; ++i)
                if (marker->Trace < 0 || marker->Trace == i) Traces[i].ApplyMarker(marker->Kind);
        GraphRecord& record = Records.emplace_back();
        record.Time = t;
        for (int i = 0; i < TraceCount; ++i)
            Traces[i].Process(t, fields.Values[i], record.Value[i], record.Raw[i]);
    }

    // The spectrum and the traces' closing pass, then the results into the model.
    void Finish(GraphModel& model) {
        std::vector<std::complex<double>> spectrum;
        if (model.SpectrumTrace >= 0)
            spectrum = ComputeSpectrum(Records, model.SpectrumTrace, Window.DisplayStart,
                                       Window.DisplayEnd);
        for (int i = 0; i < TraceCount; ++i)
            Traces[i].FinishLoad(Records, i);
        model.SpectrumSize = spectrum.empty() ? 1 : static_cast<unsigned>(spectrum.size());
        model.Spectrum.swap(spectrum);
        model.Records.swap(Records);
        model.Tags.swap(Tags);
        model.Window = Window;
        model.Results = Results;
    }

private:
    static constexpr size_t kGrowthShare = 8; // room for an eighth more records than last time
    static constexpr size_t kMinRoom = 64;

    std::vector<GraphRecord> Records;
    std::vector<GraphTag> Tags;
    GraphWindow Window;
    TraceResults Results;
    std::vector<TracePipeline> Traces;
};

GraphLoadStatus LoadLog(GraphModel& model, const LogByteReader& read, uint64_t size,
                        const GraphSettings& settings) {
    try {
        const LogContent content = Survey(read, size);
        if (content == LogContent::ReadFailed) return GraphLoadStatus::ReadFailed;
        if (content == LogContent::Foreign) return GraphLoadStatus::NotALog;
        GraphLoad load(model, settings);
        if (content == LogContent::Log && ReadLogLines(read, size, [&](const LogLine& line) {
                                              if (!line.TooLong) load.Add(line.Text);
                                              return true;
                                          }) == LogReadEnd::ReadFailed)
            return GraphLoadStatus::ReadFailed;
        load.Finish(model);
        return GraphLoadStatus::Loaded;
    } catch (const std::bad_alloc&) {
        return GraphLoadStatus::TooLarge; // the model keeps what it showed
    }
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
    case GraphLoadStatus::NotALog:
        return path + " is not a Kestrovane log file.";
    }
    return "";
}

GraphLoadStatus GraphModel::LoadGraphData(const std::string& path, const GraphSettings& settings) {
    if (path.empty()) return GraphLoadStatus::NoFileName;
    const ScopedFile file(OpenFile(path, OpenMode::Read));
    if (file.Get() < 0) return GraphLoadStatus::CannotOpen;
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status) return GraphLoadStatus::ReadFailed;
    if (status->Kind != FileKind::Regular) return GraphLoadStatus::NotAFile;
    if (status->Size > MaxLogFileBytes) return GraphLoadStatus::TooLarge;
    const int fd = file.Get();
    return LoadLog(
        *this,
        [fd](uint64_t offset, char* out, size_t size) { return ReadAt(fd, out, size, offset); },
        status->Size, settings);
}

GraphLoadStatus GraphModel::LoadGraphText(std::string_view fileBytes,
                                          const GraphSettings& settings) {
    return LoadLog(*this, MemoryReader(fileBytes), fileBytes.size(), settings);
}

void GraphModel::ApplySpan(int spanMinutes) {
    if (Window.SectionMarked || spanMinutes <= 0) return;
    Window.LeftMark = Window.LastRecordTime - kSecondsPerMinute * spanMinutes;
    Window.RightMark = EndOfTime;
}

} // namespace kv
