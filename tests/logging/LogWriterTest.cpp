// SPDX-License-Identifier: GPL-3.0-or-later
// The log writer: exact bytes of full, time-only and annotated records, the interval and forced
// modes, the size trim, files that cannot be opened or written, a reader holding the file open,
// the log commands, and records written by the analysis itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

#include "../analysis/CoreHarness.h"
#include "FakeLogClock.h"
#include "logging/LogWriter.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// UTF-16LE bytes of an ASCII text, made here rather than by the writer's encoder.
std::string Wide(std::string_view ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// The ASCII text of UTF-16LE bytes; fails the test on anything else.
std::string Narrow(const std::string& bytes) {
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i + 1], '\0') << "at byte " << i;
        out += bytes[i];
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kv-log-XXXXXX").string();
        Path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    std::string Path;
};

// The record the fixture's readings give as the first record after start-up.
constexpr const char* kFirstRecord = "1351951509\t\t\t0\t0\t0\t\t0\t;03/11/12 14:05:09\r\n";

class LogWriterTest : public ::testing::Test {
protected:
    LogWriterTest() : Writer(Harness.Core, App, Clock) {
        App.LogFile2 = Dir.Path + "/watch.log";
        Harness.Core.Settings.Logging = 1;
        Harness.Core.Derived.BeatPeriod = 0.2;
        M().TickElapsed = 10.0;
        Writer.NotifyLogViewer = [this] { ++Notifications; };
    }

    MeasurementState& M() { return Harness.Core.Measurement; }
    std::string Log() const { return ReadBytes(App.LogFile2); }
    std::vector<std::string> LogLines() const { return Lines(Narrow(Log())); }
    bool LogExists() const { return fs::exists(App.LogFile2); }
    uintmax_t LogSize() const { return LogExists() ? fs::file_size(App.LogFile2) : 0; }

    // Makes `calls` requests `step` ms apart from tick `start`; returns the ticks at which the
    // file grew.
    std::vector<uint32_t> Requests(int mode, uint32_t start, uint32_t step, int calls) {
        std::vector<uint32_t> written;
        for (int i = 0; i < calls; ++i) {
            Clock.Tick = start + static_cast<uint32_t>(i) * step;
            const uintmax_t before = LogSize();
            Writer.WriteLogRecord(mode);
            if (LogSize() > before) written.push_back(start + static_cast<uint32_t>(i) * step);
        }
        return written;
    }

    TempDir Dir;
    CoreHarness Harness;
    AppSettings App;
    FakeLogClock Clock;
    LogWriter Writer;
    int Notifications = 0;
};

// --- Record bytes ---

TEST_F(LogWriterTest, FullRecordsAreUtf16WithSevenTabbedFieldsAndTheDateOnTheFirst) {
    Harness.Core.Params.LiftAngle = 52.0;
    M().Rate = -2.3 / 86400;
    M().RateWindowFull = true;
    const double lift = std::asin(0.1) * 2 * 0.2 / M_PI; // amplitude 52 / (2 * 0.1) = 260
    M().LogLiftSum = 3 * lift;
    M().LogLiftCount = 3;
    M().Deviation = -0.0432;
    M().TickElapsed = 1800; // average rate -2.0736 s/d
    M().LogBeatErrorSum = 2 * 0.00155;
    M().LogBeatErrorCount = 2; // 0.00155 of 0.2 s
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(
        Log(),
        Wide("1351951509\t-2.3\t260\t-0.0432\t0\t-2.0736\t0.00031\t0\t;03/11/12 14:05:09\r\n"));
    EXPECT_EQ(M().LogLiftCount, 0);
    EXPECT_EQ(M().LogLiftSum, 0.0);
    EXPECT_EQ(M().LogBeatErrorCount, 0);
    EXPECT_EQ(M().LogBeatErrorSum, 0.0);

    // The second: no lift since the first, a small beat error in exponent form, sensor readings.
    Clock.Unix += 10;
    M().LogBeatErrorSum = 6e-5;
    M().LogBeatErrorCount = 1;
    Writer.SensorTemperature = 21.5;
    Writer.SensorPressure = 1013.25;
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Lines(Narrow(Log())).at(1),
              "1351951519\t-2.3\t\t-0.0432\t21.5\t-2.0736\t1.2e-05\t1013.25");
    EXPECT_EQ(Notifications, 2);
}

TEST_F(LogWriterTest, FieldsWithoutAValueKeepTheirTabs) {
    M().Deviation = 0.1;
    M().TickElapsed = 0.2; // equal to the beat period: no average rate
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Log(), Wide("1351951509\t\t\t0.1\t0\t\t\t0\t;03/11/12 14:05:09\r\n"));

    // An average rate of -10000 s/d is left out, -9998 s/d is written.
    M().TickElapsed = 216;
    M().Deviation = -25;
    Writer.WriteLogRecord(LogForced);
    M().Deviation = -24.995;
    Writer.WriteLogRecord(LogForced);
    // A pendulum has no amplitude, and its lift sums are emptied all the same.
    Harness.Core.Params.Coaxial = static_cast<int>(EscapementType::Pendulum);
    M().LogLiftSum = 0.02;
    M().LogLiftCount = 2;
    M().Deviation = 0.0;
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(M().LogLiftCount, 0);
    // A reading that is not a number leaves its field empty rather than writing "nan".
    M().Rate = std::nan("");
    M().RateWindowFull = true;
    Writer.WriteLogRecord(LogForced);

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "1351951509\t\t\t-25\t0\t\t\t0");
    EXPECT_EQ(lines[2], "1351951509\t\t\t-24.995\t0\t-9998\t\t0");
    EXPECT_EQ(lines[3], "1351951509\t\t\t0\t0\t0\t\t0");
    EXPECT_EQ(lines[4], "1351951509\t\t\t0\t0\t0\t\t0");
}

TEST_F(LogWriterTest, EveryTenthRecordCarriesTheDateAndCommentsFollowIt) {
    for (int i = 0; i < 9; ++i, ++Clock.Unix)
        Writer.WriteLogRecord(LogForced);
    Writer.AnnotateLog(1, "wound");
    Writer.WriteLogRecord(LogTimeOnly); // the 10th: counted, but carries neither date nor comment
    ++Clock.Unix;
    Writer.WriteLogRecord(LogForced); // the 11th
    Writer.AnnotateLog(2, "dial up");
    ++Clock.Unix;
    for (int i = 0; i < 10; ++i, ++Clock.Unix)
        Writer.WriteLogRecord(LogForced); // the 12th to the 21st

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0], "1351951509\t\t\t0\t0\t0\t\t0\t;03/11/12 14:05:09");
    for (int i = 1; i < 9; ++i)
        EXPECT_EQ(lines[i], std::to_string(1351951509 + i) + "\t\t\t0\t0\t0\t\t0");
    EXPECT_EQ(lines[9], "1351951518");
    EXPECT_EQ(lines[10], "1351951519\t\t\t0\t0\t0\t\t0\t;03/11/12 14:05:19\t<TAG1>wound</TAG>");
    EXPECT_EQ(lines[11], "1351951520\t\t\t0\t0\t0\t\t0\t;<TAG2>dial up</TAG>");
    EXPECT_EQ(lines[12], "1351951521\t\t\t0\t0\t0\t\t0");
    EXPECT_EQ(lines[20], "1351951529\t\t\t0\t0\t0\t\t0\t;03/11/12 14:05:29");
}

TEST_F(LogWriterTest, AnnotationsReplaceEachOtherAndMarkTheTape) {
    Harness.Core.Tape.TapeWriteIndex = 5;
    Writer.AnnotateLog(0, "first");
    Writer.AnnotateLog(2, "second, with; punctuation");
    EXPECT_EQ(Harness.Core.Tape.Entries[5].Text, "second, with; punctuation");
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Log(), Wide("1351951509\t\t\t0\t0\t0\t\t0\t;03/11/12 14:05:09\t<TAG2>second, with; "
                          "punctuation</TAG>\r\n"));

    // No tape slot: only the comment. It is written once.
    Harness.Core.Tape.TapeWriteIndex = static_cast<int>(Harness.Core.Tape.Entries.size());
    Writer.AnnotateLog(7, "no tape");
    Writer.WriteLogRecord(LogForced);
    Writer.WriteLogRecord(LogForced);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "1351951509\t\t\t0\t0\t0\t\t0\t;<TAG7>no tape</TAG>");
    EXPECT_EQ(lines[2], "1351951509\t\t\t0\t0\t0\t\t0");
}

TEST_F(LogWriterTest, CommentsAreEncodedAsUtf16AndKeptOnOneLine) {
    Writer.WriteLogRecord(LogForced);
    const size_t first = Log().size();
    Writer.AnnotateLog(1, "\xC3\x96l \xE2\x82\xAC \xF0\x9D\x84\x9E"); // "Öl € 𝄞"
    Writer.WriteLogRecord(LogForced);
    const std::string expected = Wide("1351951509\t\t\t0\t0\t0\t\t0\t;<TAG1>") + "\xD6" + '\0' +
                                 Wide("l ") + "\xAC\x20" + Wide(" ") + "\x34\xD8\x1E\xDD" +
                                 Wide("</TAG>\r\n");
    EXPECT_EQ(Log().substr(first), expected);

    Writer.AnnotateLog(0, "two\r\nlines \xFF"); // a line end and a byte that is not UTF-8
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Log().substr(first + expected.size()),
              Wide("1351951509\t\t\t0\t0\t0\t\t0\t;<TAG0>two  lines ") + "\xFD\xFF" +
                  Wide("</TAG>\r\n"));
}

// --- When records are written ---

TEST_F(LogWriterTest, PeriodicRecordsWaitForTheLogInterval) {
    App.LogInterval = 10;
    std::vector<uint32_t> ticks = Requests(LogPeriodic, 100000, 300, 134);
    ASSERT_EQ(ticks.size(), 4u);
    EXPECT_EQ(ticks[0], 100000u);
    for (size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i] - ticks[i - 1], 10000u);
        EXPECT_LT(ticks[i] - ticks[i - 1], 10300u);
    }

    // LogInterval 0: the rate measuring time.
    App.LogInterval = 0;
    Harness.Core.Params.MeasuringTime = 8;
    ticks = Requests(LogPeriodic, 200000, 300, 100);
    ASSERT_EQ(ticks.size(), 4u);
    for (size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i] - ticks[i - 1], 8000u);
        EXPECT_LT(ticks[i] - ticks[i - 1], 8300u);
    }
}

TEST_F(LogWriterTest, ForcedAndTimeOnlyRecordsIgnoreTheInterval) {
    App.LogInterval = 3600;
    EXPECT_EQ(Requests(LogForced, 100000, 300, 20).size(), 20u);
    EXPECT_EQ(Requests(LogTimeOnly, 106000, 1, 3).size(), 3u);
    EXPECT_TRUE(Requests(LogPeriodic, 106003, 1000, 10).empty());
    EXPECT_EQ(LogLines().back(), "1351951509");
}

TEST_F(LogWriterTest, NothingIsWrittenBeforeAnythingIsMeasuredExceptTheStopRecord) {
    M().TickElapsed = 0.0;
    Writer.WriteLogRecord(LogPeriodic);
    Writer.WriteLogRecord(LogForced);
    EXPECT_FALSE(LogExists());
    Writer.WriteLogRecord(LogTimeOnly);
    EXPECT_EQ(Log(), Wide("1351951509\r\n"));
}

TEST_F(LogWriterTest, TheTickCounterAtStartUpAndAroundItsWrap) {
    App.LogInterval = 10;
    // At start-up the latest attempt counts as tick 0.
    EXPECT_TRUE(Requests(LogPeriodic, 5000, 1, 1).empty());
    EXPECT_EQ(Requests(LogPeriodic, 10000, 1, 1).size(), 1u);
    // Just before the wrap the interval sum does not wrap with it.
    EXPECT_EQ(Requests(LogPeriodic, 0xFFFFF000u, 1, 1).size(), 1u);
    EXPECT_TRUE(Requests(LogPeriodic, 0xFFFFFF80u, 1, 1).empty());
    // Once the counter has wrapped the interval counts as passed.
    EXPECT_EQ(Requests(LogPeriodic, 0x80u, 1, 1).size(), 1u);
    EXPECT_TRUE(Requests(LogPeriodic, 0x100u, 1, 1).empty());
}

TEST_F(LogWriterTest, RequestsThatWriteNothingDoNotTouchTheFile) {
    App.LogInterval = 10;
    Writer.WriteLogRecord(LogPeriodic);
    const std::string first = App.LogFile2;
    ASSERT_TRUE(Writer.ChooseLogFile(Dir.Path + "/second.log"));
    Clock.Tick += 100;
    Writer.WriteLogRecord(LogPeriodic); // interval not passed
    Writer.WriteLogRecord(LogNothing);
    Writer.WriteLogRecord(7); // not a mode
    EXPECT_FALSE(LogExists());
    Harness.Core.Settings.Logging = 0;
    Writer.WriteLogRecord(LogForced);
    Writer.WriteLogRecord(LogTimeOnly);
    EXPECT_FALSE(LogExists());
    EXPECT_EQ(Writer.LastLogTick, 100000u);
    EXPECT_EQ(Lines(Narrow(ReadBytes(first))).size(), 1u);
}

// --- Size limit ---

// A line of `chars` characters including its CR LF, made of the digit of `index`.
std::string TestLine(int index, int chars) {
    return std::string(static_cast<size_t>(chars - 2), static_cast<char>('0' + index % 10)) +
           "\r\n";
}

class LogTrimTest : public LogWriterTest {
protected:
    // A file of `count` lines of 64 characters, the first `firstChars` long.
    std::vector<std::string> MakeFile(int count, int firstChars) {
        std::vector<std::string> lines;
        std::string text;
        for (int i = 0; i < count; ++i)
            text += lines.emplace_back(TestLine(i, i == 0 ? firstChars : 64));
        WriteBytes(App.LogFile2, Wide(text));
        return lines;
    }
    static std::string Join(const std::vector<std::string>& lines, size_t from) {
        std::string text;
        for (size_t i = from; i < lines.size(); ++i)
            text += lines[i];
        return text;
    }
};

TEST_F(LogTrimTest, AFileAtTheLimitPlus512CharactersIsLeftAlone) {
    App.MaxLogsize = 1;
    const std::vector<std::string> lines = MakeFile(24, 64); // 1536 characters
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Log(), Wide(Join(lines, 0) + kFirstRecord));
}

TEST_F(LogTrimTest, OneCharacterMoreCutsTheFileAtALineStartWithinTheLast1064) {
    App.MaxLogsize = 1;
    const std::vector<std::string> lines = MakeFile(24, 65); // 1537 characters
    Writer.WriteLogRecord(LogForced);
    // The last 1064 characters start at character 473, inside line 7 (449 to 512): the file now
    // starts with line 8, at character 513, and holds 1024 characters before the new record.
    const std::string kept = Join(lines, 8);
    EXPECT_EQ(kept.size(), 1024u);
    EXPECT_EQ(Log(), Wide(kept + kFirstRecord));
    EXPECT_EQ(Notifications, 1);
}

TEST_F(LogTrimTest, WithoutALineEndInTheKeptPartTheFileStays) {
    App.MaxLogsize = 1;
    const std::string text = TestLine(1, 470) + std::string(1067, 'x'); // 1537 characters
    WriteBytes(App.LogFile2, Wide(text));
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Log(), Wide(text + kFirstRecord));
}

TEST_F(LogTrimTest, LargeFilesAreMovedDownWhole) {
    App.MaxLogsize = 64; // 65536 characters: several copy chunks
    const std::vector<std::string> lines = MakeFile(1300, 64);
    Writer.WriteLogRecord(LogForced);
    // The last 65576 of 83200 characters start at 17624, inside line 275: line 276 starts there.
    EXPECT_EQ(Log(), Wide(Join(lines, 276) + kFirstRecord));
    // Without a limit nothing is cut.
    App.MaxLogsize = 0;
    const std::string before = Log();
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Log().substr(0, before.size()), before);
}

// --- Files that cannot be opened or written ---

TEST_F(LogWriterTest, AFileThatCannotBeOpenedLosesNothingAndWaitsAnInterval) {
    App.LogInterval = 10;
    App.LogFile2 = "/proc/kv-no-folder/watch.log"; // a folder that cannot be made
    Writer.AnnotateLog(0, "kept");
    M().LogLiftSum = 3 * std::asin(0.1) * 2 * 0.2 / M_PI; // amplitude 260
    M().LogLiftCount = 3;
    Writer.WriteLogRecord(LogPeriodic);
    EXPECT_EQ(Notifications, 0);

    App.LogFile2 = Dir.Path; // a directory
    Writer.WriteLogRecord(LogForced);
    Writer.WriteLogRecord(LogTimeOnly);
    EXPECT_EQ(Notifications, 0);

    ASSERT_TRUE(Writer.ChooseLogFile(Dir.Path + "/watch.log"));
    Clock.Tick += 9999;
    Writer.WriteLogRecord(LogPeriodic);
    EXPECT_FALSE(LogExists());
    Clock.Tick += 1;
    Writer.WriteLogRecord(LogPeriodic);
    // Still the first record since start-up, with the comment and the lift of before.
    EXPECT_EQ(Log(),
              Wide("1351951509\t\t260\t0\t0\t0\t\t0\t;03/11/12 14:05:09\t<TAG0>kept</TAG>\r\n"));
}

TEST_F(LogWriterTest, AFailedWriteKeepsTheCommentForTheNextRecord) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    App.LogFile2 = "/dev/full"; // every write fails with "no space"
    Writer.AnnotateLog(1, "kept");
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Notifications, 0);
    EXPECT_EQ(Writer.PendingLogComment, "<TAG1>kept</TAG>");
    EXPECT_EQ(Writer.LogRecordCounter, 0u);
}

// --- Other programs ---

TEST_F(LogWriterTest, AReaderHoldingTheFileOpenAndLockedSeesEveryRecord) {
    Writer.WriteLogRecord(LogForced);
    const int reader = open(App.LogFile2.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(flock(reader, LOCK_EX), 0); // an advisory lock of another program
    std::string seen;
    char buffer[4096];
    for (int i = 0; i < 3; ++i) {
        ++Clock.Unix;
        Writer.WriteLogRecord(LogForced);
        for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
            seen.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(Lines(Narrow(seen)).size(), static_cast<size_t>(i + 2));
    }
    close(reader);
    EXPECT_EQ(seen, Log());
}

// --- The log commands ---

TEST_F(LogWriterTest, ToggleLoggingNeedsAFileAndEmptiesTheLiftSums) {
    Harness.Core.Settings.Logging = 0;
    M().LogLiftSum = 0.5;
    M().LogLiftCount = 5;
    M().LogBeatErrorSum = 0.1;
    M().LogBeatErrorCount = 2;
    EXPECT_TRUE(Writer.ToggleLogging());
    EXPECT_TRUE(Writer.LoggingOn());
    EXPECT_EQ(M().LogLiftCount, 0);
    EXPECT_EQ(M().LogLiftSum, 0.0);
    EXPECT_EQ(M().LogBeatErrorCount, 2);
    EXPECT_FALSE(Writer.ToggleLogging());
    EXPECT_FALSE(Writer.LoggingOn());

    App.LogFile2.clear();
    EXPECT_FALSE(Writer.HasLogFile());
    EXPECT_FALSE(Writer.ToggleLogging());
    EXPECT_FALSE(Writer.LoggingOn());
}

TEST_F(LogWriterTest, ChoosingAFileTellsTheViewerButDoesNotStartLogging) {
    Harness.Core.Settings.Logging = 0;
    App.LogFile2.clear();
    EXPECT_FALSE(Writer.ChooseLogFile(""));
    EXPECT_EQ(Notifications, 0);
    EXPECT_TRUE(Writer.ChooseLogFile(Dir.Path + "/new.log"));
    EXPECT_EQ(App.LogFile2, Dir.Path + "/new.log");
    EXPECT_EQ(Notifications, 1);
    EXPECT_FALSE(Writer.LoggingOn());
    EXPECT_FALSE(fs::exists(App.LogFile2)); // the first record creates it
}

TEST_F(LogWriterTest, ClearEmptiesOrCreatesTheFile) {
    Writer.WriteLogRecord(LogForced);
    ASSERT_GT(LogSize(), 0u);
    EXPECT_TRUE(Writer.ClearLogFile());
    EXPECT_TRUE(LogExists());
    EXPECT_EQ(LogSize(), 0u);
    EXPECT_EQ(Notifications, 2);

    fs::remove(App.LogFile2);
    EXPECT_TRUE(Writer.ClearLogFile());
    EXPECT_TRUE(LogExists());
    EXPECT_EQ(LogSize(), 0u);

    App.LogFile2 = Dir.Path + "/missing/watch.log";
    EXPECT_FALSE(Writer.ClearLogFile());
    EXPECT_EQ(Notifications, 3);
}

TEST_F(LogWriterTest, AnnotateIsOfferedWithTheTapeOrWhileLogging) {
    EXPECT_TRUE(Writer.CanAnnotate(false)); // a file and logging on
    Harness.Core.Settings.Logging = 0;
    EXPECT_FALSE(Writer.CanAnnotate(false));
    EXPECT_TRUE(Writer.CanAnnotate(true));
    Harness.Core.Settings.Logging = 1;
    App.LogFile2.clear();
    EXPECT_FALSE(Writer.CanAnnotate(false));
    EXPECT_TRUE(Writer.CanAnnotate(true));
}

// --- Records requested by the analysis ---

class LoggingHarness : public CoreHarness {
public:
    void WriteLogRecord(int mode) override {
        CoreHarness::WriteLogRecord(mode);
        if (Writer) Writer->WriteLogRecord(mode);
    }
    LogWriter* Writer = nullptr;
};

TEST(LogWriterAnalysis, RecordsCarryTheMeasuredReadings) {
    TempDir dir;
    LoggingHarness h;
    AppSettings app;
    app.LogFile2 = dir.Path + "/run.log";
    app.LogInterval = 1;
    FakeLogClock clock;
    clock.TickStep = 1000; // each request is a second after the one before
    LogWriter writer(h.Core, app, clock);
    h.Writer = &writer;
    h.Core.Settings.Logging = 1;
    h.StartForClicks(48000);
    ClickTrain train;
    train.Seconds = 20;
    train.LiftSeconds = 0.015;
    h.Feed(train.Make());
    writer.WriteLogRecord(LogTimeOnly);

    const auto points = std::count(h.LogModes.begin(), h.LogModes.end(), int{LogPeriodic});
    const std::vector<std::string> lines = Lines(Narrow(ReadBytes(app.LogFile2)));
    ASSERT_GT(points, 20);
    ASSERT_EQ(lines.size(), static_cast<size_t>(points) + 1);
    EXPECT_EQ(lines.back(), "1351951509");
    // The lever rule finds each drop one sample early: a lift of 719 samples.
    char amplitude[32];
    std::snprintf(amplitude, sizeof amplitude, "%g",
                  52.0 / (2 * std::sin(M_PI * 719 / 48000 / 0.4)));
    int withRate = 0, withAmplitude = 0;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::stringstream in(lines[i]);
        for (std::string f; std::getline(in, f, '\t');)
            fields.push_back(f);
        ASSERT_EQ(fields.size(), i % 10 == 0 ? 9u : 8u) << lines[i]; // every tenth is dated
        if (!fields[1].empty()) {
            ++withRate;
            EXPECT_LT(std::fabs(std::stod(fields[1])), 0.01) << lines[i];
        }
        if (!fields[2].empty()) {
            ++withAmplitude;
            EXPECT_EQ(fields[2], amplitude) << lines[i];
        }
        EXPECT_LT(std::fabs(std::stod(fields[3])), 1e-3) << lines[i];
    }
    EXPECT_GT(withRate, 5); // the rate window fills after 8 s
    EXPECT_GT(withAmplitude, points / 2);
}

} // namespace
} // namespace kv::test
