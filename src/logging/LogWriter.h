// SPDX-License-Identifier: GPL-3.0-or-later
// The log writer of a measuring view: appends a line of readings to the log file at the log
// interval (or at every measurement point during a positional run), a time-only line when
// measuring stops, and the user's annotations; plus the file-level part of the four log commands.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "analysis/AnalysisCore.h"
#include "logview/format/LogRecordText.h"
#include "logview/format/LogSection.h"
#include "settings/AppSettings.h"

namespace kv {

// The millisecond tick counter and the wall clock the writer reads; tests substitute their own.
class LogClock {
public:
    virtual ~LogClock() = default;
    virtual uint32_t TickMilliseconds() = 0; // monotonic, wraps at 2^32
    virtual int64_t UnixSeconds() = 0;       // whole seconds since 1970-01-01 UTC
    virtual CalendarTime LocalTime(int64_t unixSeconds) = 0;
};

// CLOCK_MONOTONIC milliseconds, the system UTC clock and the local time zone.
LogClock& SystemLogClock();

// Called from the capture thread (periodic and forced records) and the user-interface thread
// (time-only records, annotations, the log commands, section deletion). The analysis lock guards
// the runtime state below; the writer's own file lock guards the file's content, taken after the
// analysis lock, so a section deletion (which takes only the file lock) never waits for a buffer.
class LogWriter {
public:
    // Reads the readings from `core` and LogFile2, LogInterval and MaxLogsize from `settings`;
    // the logging switch is core.Settings.Logging.
    LogWriter(AnalysisCore& core, AppSettings& settings, LogClock& clock = SystemLogClock());

    // A record request: LogNothing and the requests that find the interval not yet passed return
    // without allocating or touching the file. LogPeriodic and LogForced come from the capture
    // thread (ProcessBuffer), LogTimeOnly from the measuring loop when measuring stops. A request
    // that writes holds the analysis lock to the end, as ProcessBuffer does anyway, so the capture
    // and user-interface threads never interleave their records or counters. The first record
    // creates the file, and the folders missing on its path.
    void WriteLogRecord(int mode);

    // Sets the comment for the next full record: `text` tagged for `trace` (0 to 7); an earlier
    // comment not yet written is replaced. The current tape entry, if any, shows `text`.
    void AnnotateLog(int trace, std::string_view text);

    // --- Log commands of the view (the dialogs and the settings save are the caller's) ---
    // Takes the chosen file; an empty name is refused. Logging is not switched on.
    bool ChooseLogFile(const std::string& path);
    // Empties the log file (creating it when missing); false when it cannot be opened.
    bool ClearLogFile();
    // Toggles logging (stays off without a file name) and empties the lift accumulators.
    // Returns the new state.
    bool ToggleLogging();
    bool HasLogFile() const; // enables Clear and Enable logging
    bool LoggingOn() const;  // check mark of Enable logging
    bool CanAnnotate(bool paperTapeShown) const;

    // Cuts the shown section [start, end] out of the file at `path` (DeleteLogSection) under the
    // file lock, so that no record is appended between the read and the replacement of the file.
    // Notifies the viewer when the file changed.
    SectionDeletion DeleteSection(const std::string& path, int64_t start, int64_t end,
                                  std::string& error);

    // Called after the file changed (a record written, the file cleared, another file chosen),
    // on the thread that changed it; it must only hand the viewer's refresh to the UI thread.
    std::function<void()> NotifyLogViewer;

    // Called when records stop reaching the file (it cannot be opened, its folder cannot be made,
    // it cannot be trimmed or written: a full disk), once for the first failing record after
    // start-up or after a record that was written, with one sentence naming the file and the
    // system's reason; and with an empty message for the first record written after such a
    // report, so the status line can be cleared. Measuring goes on either way. Called on the
    // thread that wrote, holding the analysis lock: it must only hand the message to the UI
    // thread.
    std::function<void(const std::string& message)> ReportStorageFailure;

    // --- Runtime state, guarded by the analysis lock ---
    std::string PendingLogComment;
    uint32_t LogRecordCounter = 0; // records built since start-up; every tenth carries the date
    uint32_t LastLogTick = 0;      // tick count of the latest attempt
    double SensorTemperature = 0.0;
    double SensorPressure = 0.0;

private:
    bool IntervalPending(uint32_t now) const;
    LogReadings Readings() const;
    std::string BuildRecord(int mode) const;
    void AppendAnnotation(std::string& record, int64_t now) const;
    void ConsumeReadings();
    bool AppendRecord(int mode, std::string& failure);
    void PrepareLogFile(const std::string& path);
    void ReportStorage(const std::string& failure);
    void Notify();

    AnalysisCore& Core;
    AppSettings& Settings;
    LogClock& Clock;
    // Held while the file is opened and changed; a record is never appended to a file that a
    // section deletion is replacing.
    mutable std::mutex FileLock;
    std::string PreparedLogPath;      // file lock: the log whose trim leftover is cleared
    bool StorageFailureShown = false; // analysis lock: reported, no record written since
};

} // namespace kv
