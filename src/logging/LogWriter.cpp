// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/LogWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>

#include "logview/format/LogFileAccess.h"
#include "platform/AtomicFile.h"

namespace kv {

namespace {

constexpr int64_t kUnixEpochFrom1601 = 11644473600; // seconds
constexpr int64_t kTicksPerSecond = 10000000;       // 100 ns units

class SystemClock final : public LogClock {
public:
    uint32_t TickMilliseconds() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const auto ms =
            static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);
    }

    int64_t UnixSeconds() override {
        const uint64_t utc = SystemClockSource().SystemUtc100ns();
        return static_cast<int64_t>(utc / kTicksPerSecond) - kUnixEpochFrom1601;
    }

    CalendarTime LocalTime(int64_t unixSeconds) override {
        const auto t = static_cast<time_t>(unixSeconds);
        tm local{};
        if (localtime_r(&t, &local) == nullptr) // out of the C library's range: show UTC
            return CalendarFromUtc100ns(
                static_cast<uint64_t>(std::max<int64_t>(unixSeconds + kUnixEpochFrom1601, 0)) *
                kTicksPerSecond);
        return {local.tm_year + 1900,
                local.tm_mon + 1,
                local.tm_mday,
                local.tm_hour,
                local.tm_min,
                local.tm_sec,
                0,
                local.tm_wday};
    }
};

constexpr const char* kLogFile = "The log file ";
constexpr const char* kLogFolder = "The folder of the log file ";

// One sentence for the failure report, ending in the system's reason: errno, read before
// anything else can change it.
std::string StorageFailure(const char* subject, const std::string& path, const char* what) {
    const int reason = errno;
    return subject + path + " cannot be " + what + ": " + std::strerror(reason) + ".";
}

// The comment goes into one line of the file: line ends in it would split the record.
std::string OneLine(std::string_view text) {
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

} // namespace

LogClock& SystemLogClock() {
    static SystemClock clock;
    return clock;
}

LogWriter::LogWriter(AnalysisCore& core, AppSettings& settings, LogClock& clock)
    : Core(core), Settings(settings), Clock(clock) {}

void LogWriter::WriteLogRecord(int mode) {
    if (mode != LogPeriodic && mode != LogForced && mode != LogTimeOnly) return;
    const auto lock = Core.HoldAnalysis();
    if (!Core.Settings.Logging) return;
    const uint32_t now = Clock.TickMilliseconds();
    if (mode == LogPeriodic && IntervalPending(now)) return;
    if (mode != LogTimeOnly && Core.Measurement.TickElapsed <= 0.0) return;
    LastLogTick = now; // a failed attempt still waits a full interval
    std::string failure;
    if (AppendRecord(mode, failure)) Notify();
    ReportStorage(failure);
}

// A counter that has wrapped around (now at or below the latest attempt) counts as an interval
// that has passed. The sum is formed in 64 bits so that it does not wrap itself.
bool LogWriter::IntervalPending(uint32_t now) const {
    if (LastLogTick >= now) return false;
    if (Settings.LogInterval > 0)
        return now < static_cast<int64_t>(LastLogTick) + int64_t{Settings.LogInterval} * 1000;
    return static_cast<double>(now) < LastLogTick + Core.Params.MeasuringTime * 1000.0;
}

// The record's readings, comment and count are used up only once it is in the file, so a record
// that could not be written loses nothing.
// The record is written in the encoding the file already has, so an 8-bit log from elsewhere
// never gets UTF-16 lines in the middle. A trim replaces the file, so the record goes to the file
// reopened after it. Returns whether the file changed; `failure` says why the record is not in it.
bool LogWriter::AppendRecord(int mode, std::string& failure) {
    const std::lock_guard fileLock(FileLock);
    const std::string& path = Settings.LogFile2;
    PrepareLogFile(path);
    LogFileHandle file(path);
    if (!file.IsOpen() && errno == ENOENT) { // its folder may not exist yet
        if (!MakeDirectories(ParentFolder(path))) {
            failure = StorageFailure(kLogFolder, path, "made");
            return false;
        }
        file.Reopen();
    }
    if (!file.IsOpen()) {
        failure = StorageFailure(kLogFile, path, "opened");
        return false;
    }
    const std::optional<LogEncoding> encoding = LogFileEncoding(file.Fd());
    if (!encoding) {
        failure = StorageFailure(kLogFile, path, "read");
        return false;
    }
    const TrimResult trim = TrimLogFile(file, Settings.MaxLogsize, *encoding);
    if (trim == TrimResult::Failed) {
        failure = StorageFailure(kLogFile, path, "cut to its size limit");
        return false;
    }
    const bool trimmed = trim == TrimResult::Trimmed;
    if (!file.IsOpen()) { // replaced by the trim, then gone
        failure = StorageFailure(kLogFile, path, "opened");
        return trimmed;
    }
    if (!AppendWhole(file.Fd(), EncodeLogText(BuildRecord(mode), *encoding))) {
        failure = StorageFailure(kLogFile, path, "written");
        return trimmed;
    }
    if (mode != LogTimeOnly) ConsumeReadings();
    ++LogRecordCounter;
    return true;
}

// A trim killed half-way leaves its temporary file beside the log: cleared when the log is first
// used (chosen, or written after start-up) and before every trim.
void LogWriter::PrepareLogFile(const std::string& path) {
    if (path == PreparedLogPath) return;
    if (!path.empty()) RemoveLeftoverTemporary(path);
    PreparedLogPath = path;
}

// Only the changes between failing and writing are reported.
void LogWriter::ReportStorage(const std::string& failure) {
    const bool failing = !failure.empty();
    if (failing == StorageFailureShown) return;
    StorageFailureShown = failing;
    if (ReportStorageFailure) ReportStorageFailure(failure);
}

std::string LogWriter::BuildRecord(int mode) const {
    const int64_t now = Clock.UnixSeconds();
    std::string record;
    record.reserve(128 + PendingLogComment.size());
    AppendTimeField(record, now);
    if (mode != LogTimeOnly) {
        AppendValueFields(record, Readings());
        AppendAnnotation(record, now);
    }
    record += "\r\n";
    return record;
}

// The first record and every tenth after it carry the readable date; a semicolon opens the
// annotation, and a comment follows the date after a tab.
void LogWriter::AppendAnnotation(std::string& record, int64_t now) const {
    const bool dated = LogRecordCounter % 10 == 0;
    if (!dated && PendingLogComment.empty()) return;
    record += "\t;";
    if (dated) AppendDateText(record, Clock.LocalTime(now));
    if (dated && !PendingLogComment.empty()) record += '\t';
    record += PendingLogComment;
}

LogReadings LogWriter::Readings() const {
    const MeasurementState& m = Core.Measurement;
    return {.Rate = m.Rate,
            .RateWindowFull = m.RateWindowFull,
            .Deviation = m.Deviation,
            .TickElapsed = m.TickElapsed,
            .BeatPeriod = Core.Derived.BeatPeriod,
            .LiftAngle = Core.Params.LiftAngle,
            .Pendulum = Core.Params.Escapement() == EscapementType::Pendulum,
            .LiftSum = m.LogLiftSum,
            .LiftCount = m.LogLiftCount,
            .BeatErrorSum = m.LogBeatErrorSum,
            .BeatErrorCount = m.LogBeatErrorCount,
            .Temperature = SensorTemperature,
            .Pressure = SensorPressure};
}

void LogWriter::ConsumeReadings() {
    MeasurementState& m = Core.Measurement;
    m.LogLiftSum = 0.0;
    m.LogLiftCount = 0;
    m.LogBeatErrorSum = 0.0;
    m.LogBeatErrorCount = 0;
    PendingLogComment.clear();
}

void LogWriter::AnnotateLog(int trace, std::string_view text) {
    std::string comment = "<TAG" + std::to_string(trace) + ">" + OneLine(text) + "</TAG>";
    const auto lock = Core.HoldAnalysis();
    PendingLogComment = std::move(comment);
    TapeState& tape = Core.Tape;
    if (tape.TapeWriteIndex >= 0 && static_cast<size_t>(tape.TapeWriteIndex) < tape.Entries.size())
        tape.Entries[static_cast<size_t>(tape.TapeWriteIndex)].Text = text;
}

bool LogWriter::ChooseLogFile(const std::string& path) {
    if (path.empty()) return false;
    {
        const auto lock = Core.HoldAnalysis();
        Settings.LogFile2 = path;
    }
    {
        const std::lock_guard fileLock(FileLock);
        PrepareLogFile(path);
    }
    Notify();
    return true;
}

bool LogWriter::ClearLogFile() {
    std::string path;
    {
        const auto lock = Core.HoldAnalysis();
        path = Settings.LogFile2;
    }
    {
        const std::lock_guard fileLock(FileLock);
        if (!kv::ClearLogFile(path)) return false;
    }
    Notify();
    return true;
}

SectionDeletion LogWriter::DeleteSection(const std::string& path, int64_t start, int64_t end,
                                         std::string& error) {
    SectionDeletion result;
    {
        const std::lock_guard fileLock(FileLock);
        result = DeleteLogSection(path, start, end, error);
    }
    if (result == SectionDeletion::Deleted) Notify();
    return result;
}

bool LogWriter::ToggleLogging() {
    const auto lock = Core.HoldAnalysis();
    int& logging = Core.Settings.Logging;
    logging = !Settings.LogFile2.empty() && !logging;
    Core.Measurement.LogLiftSum = 0.0;
    Core.Measurement.LogLiftCount = 0;
    return logging != 0;
}

bool LogWriter::HasLogFile() const {
    const auto lock = Core.HoldAnalysis();
    return !Settings.LogFile2.empty();
}

bool LogWriter::LoggingOn() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Settings.Logging != 0;
}

bool LogWriter::CanAnnotate(bool paperTapeShown) const {
    return paperTapeShown || (HasLogFile() && LoggingOn());
}

void LogWriter::Notify() {
    if (NotifyLogViewer) NotifyLogViewer();
}

} // namespace kv
