// SPDX-License-Identifier: GPL-3.0-or-later
// The log writer against its storage: records appended while the size trim is killed at random
// instants, a full disk, a log whose folder is missing, and the report of storage failures.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../analysis/CoreHarness.h"
#include "../logview/LogTestSupport.h"
#include "../settings/SettingsTestSupport.h"
#include "FakeLogClock.h"
#include "logging/LogWriter.h"
#include "platform/AtomicFile.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// The record the fixture's readings give as the first record after start-up.
constexpr const char* kFirstRecord = "1351951509\t\t\t0\t0\t0\t\t0\t;03/11/12 14:05:09\r\n";

class LogStorageTest : public ::testing::Test {
public:
    LogStorageTest() : Writer(Harness.Core, App, Clock) {
        App.LogFile2 = Dir.File("watch.log");
        Harness.Core.Settings.Logging = 1;
        Harness.Core.Measurement.TickElapsed = 10.0;
        Writer.ReportStorageFailure = [this](const std::string& m) { Reports.push_back(m); };
    }

    // Every name in the folder (recursively) with the size of the files.
    std::map<std::string, uintmax_t> Files() const {
        std::map<std::string, uintmax_t> files;
        for (const auto& entry : fs::recursive_directory_iterator(Dir.Path))
            files[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
        return files;
    }

    LogTempDir Dir;
    CoreHarness Harness;
    AppSettings App;
    FakeLogClock Clock;
    LogWriter Writer;
    std::vector<std::string> Reports;
    std::optional<FileSizeLimit> DiskFull; // writes past this size fail as on a full disk
};

// --- Storage failures: reported once, cleared by the next record written ---

struct FailureCase {
    const char* Name;
    std::function<void(LogStorageTest&)> Break, Mend;
    std::string Message; // "%" stands for the log's path
};

class LogFailureTest : public LogStorageTest, public ::testing::WithParamInterface<FailureCase> {};

constexpr uintmax_t kRoomBytes = 16;   // left on a full disk: part of a record, not all of it
constexpr int64_t kTrimmedLogsize = 1; // 1024 characters

constexpr int kOverLimitLines = 30; // of 64 characters: more than the limit + 512 of 1024
constexpr size_t kLineChars = 64;

// Lines of 'a' to 'z' and again, over the limit of kTrimmedLogsize.
std::string OverTheLimit() {
    std::string text;
    for (int i = 0; i < kOverLimitLines; ++i)
        text += std::string(kLineChars - 2, static_cast<char>('a' + i % 26)) + "\r\n";
    return text;
}

TEST_P(LogFailureTest, IsReportedOnceWithTheFileAndReasonAndClearedByTheNextRecord) {
    GetParam().Break(*this);
    const std::map<std::string, uintmax_t> before = Files();
    Writer.WriteLogRecord(LogForced);
    Writer.WriteLogRecord(LogTimeOnly);
    const std::map<std::string, uintmax_t> during = Files();
    std::string message = GetParam().Message;
    message.replace(message.find('%'), 1, App.LogFile2);
    GetParam().Mend(*this);
    EXPECT_EQ(during, before) << "nothing is written while failing";
    EXPECT_EQ(Reports, std::vector<std::string>{message});
    Writer.WriteLogRecord(LogTimeOnly);
    Writer.WriteLogRecord(LogTimeOnly);
    EXPECT_EQ(Reports, (std::vector<std::string>{message, ""}));
    EXPECT_EQ(CrLfLines(Narrow(ReadBytes(App.LogFile2))).back(), "1351951509");
}

INSTANTIATE_TEST_SUITE_P(
    LogWriter, LogFailureTest,
    ::testing::Values(
        FailureCase{"AFolderInPlaceOfTheLog",
                    [](LogStorageTest& t) { fs::create_directory(t.App.LogFile2); },
                    [](LogStorageTest& t) { fs::remove(t.App.LogFile2); },
                    "The log file % cannot be opened: Is a directory."},
        FailureCase{"AFolderThatCannotBeMade",
                    [](LogStorageTest& t) { t.App.LogFile2 = "/proc/kv-no-folder/watch.log"; },
                    [](LogStorageTest& t) { t.App.LogFile2 = t.Dir.File("watch.log"); },
                    "The folder of the log file % cannot be made: No such file or directory."},
        FailureCase{"AFullDiskWhileAppending",
                    [](LogStorageTest& t) {
                        WriteBytes(t.App.LogFile2, Wide(kFirstRecord));
                        t.DiskFull.emplace(fs::file_size(t.App.LogFile2) + kRoomBytes);
                    },
                    [](LogStorageTest& t) { t.DiskFull.reset(); },
                    "The log file % cannot be written: File too large."},
        FailureCase{"AFullDiskWhileTrimming",
                    [](LogStorageTest& t) {
                        t.App.MaxLogsize = kTrimmedLogsize;
                        WriteBytes(t.App.LogFile2, Wide(OverTheLimit()));
                        t.DiskFull.emplace(kRoomBytes);
                    },
                    [](LogStorageTest& t) { t.DiskFull.reset(); },
                    "The log file % cannot be cut to its size limit: File too large."}),
    [](const auto& info) { return std::string(info.param.Name); });

// --- Where the log goes ---

TEST_F(LogStorageTest, ALogInFoldersNotYetMadeGetsThemWithItsFirstRecord) {
    App.LogFile2 = Dir.File("new/sub/watch.log");
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(ReadBytes(App.LogFile2), Wide(kFirstRecord));
    EXPECT_TRUE(Reports.empty());
}

TEST_F(LogStorageTest, ALeftoverOfAKilledTrimGoesWhenTheLogIsFirstWrittenOrChosen) {
    const std::string chosen = Dir.File("chosen.log");
    for (const std::string& log : {App.LogFile2, chosen})
        WriteBytes(FixedTemporaryPath(log), "a trim killed half-way");
    Writer.WriteLogRecord(LogForced);
    ASSERT_TRUE(Writer.ChooseLogFile(chosen));
    EXPECT_EQ(Files(), (std::map<std::string, uintmax_t>{
                           {Dir.File("watch.log"), Wide(kFirstRecord).size()}}));
}

TEST_F(LogStorageTest, TheTrimReplacesTheFileALinkPointsToAndKeepsItsPermissions) {
    App.MaxLogsize = kTrimmedLogsize;
    const std::string target = Dir.File("real/watch.log");
    fs::create_directory(Dir.File("real"));
    const std::string text = OverTheLimit();
    WriteBytes(target, Wide(text));
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(target, App.LogFile2);
    Writer.WriteLogRecord(LogForced);
    EXPECT_TRUE(fs::is_symlink(App.LogFile2));
    // The last 1064 of 1920 characters start inside line 13: line 14 on are kept.
    EXPECT_EQ(ReadBytes(target), Wide(text.substr(14 * kLineChars) + kFirstRecord));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Files().size(), 3u) << "the link, the folder and the log, no temporary file";
}

// --- A kill at any instant of the size trim ---

constexpr int64_t kCrashLogsize = 2048; // 1024-character units: a UTF-16 log of 4 MB
constexpr size_t kCommentChars = 520;   // a record alone passes the 512 that start a trim
constexpr size_t kDateFieldChars = 18;  // "dd/mm/yy hh:mm:ss" and the tab after it
constexpr int kKills = 32;              // 8 of 25 left a damaged log when trimmed in place
constexpr int kMaxKillDelayMs = 200;    // several trims of the 4 MB log
constexpr unsigned kChildSeconds = 60;  // a child whose parent died ends by itself

std::string RecordHead(int64_t number) {
    return std::to_string(number) + "\t\t\t0\t0\t0\t\t0\t;";
}

const std::string& RecordTail() {
    static const std::string tail = "<TAG0>" + std::string(kCommentChars, 'c') + "</TAG>";
    return tail;
}

// "" when `text` holds whole records numbered one after the other, the last one `reported` or
// the one after it (written, killed before it was reported); otherwise what is wrong. `last` is
// the number of the last record.
std::string CheckRecords(const std::string& text, int64_t reported, int64_t& last) {
    const std::vector<std::string> lines = CrLfLines(text);
    if (lines.empty() || !text.ends_with("\r\n")) return "no whole lines";
    last = std::atoll(lines.front().c_str()) - 1;
    for (const std::string& line : lines) {
        const std::string head = RecordHead(++last);
        const size_t middle =
            line.size() - std::min(line.size(), head.size() + RecordTail().size());
        if (!line.starts_with(head) || !line.ends_with(RecordTail()) ||
            (middle != 0 && middle != kDateFieldChars))
            return "record " + std::to_string(last) +
                   " broken or out of order: " + line.substr(0, head.size()) + "... (" +
                   std::to_string(line.size()) + " characters)";
    }
    if (last != reported && last != reported + 1)
        return "the log ends at " + std::to_string(last) + ", " + std::to_string(reported) +
               " was reported";
    if (text.size() < kCrashLogsize * 1024 - lines.back().size() - 2)
        return "the log lost records before the trim's limit";
    return "";
}

// Forks a child that appends records `first`, `first` + 1, ... with the number as their time and
// writes each number to `reportFd` once it is in the file.
pid_t StartAppending(LogWriter& writer, FakeLogClock& clock, int64_t first, int reportFd) {
    const pid_t child = fork();
    if (child != 0) return child;
    alarm(kChildSeconds);
    for (int64_t number = first;; ++number) {
        clock.Unix = number;
        writer.AnnotateLog(0, std::string(kCommentChars, 'c'));
        const uint32_t before = writer.LogRecordCounter;
        writer.WriteLogRecord(LogForced);
        if (writer.LogRecordCounter == before ||
            write(reportFd, &number, sizeof number) != sizeof number)
            _exit(1);
    }
}

TEST_F(LogStorageTest, AKillDuringTheTrimLeavesWholeRecordsInOrder) {
    App.MaxLogsize = kCrashLogsize;
    std::string text;
    int64_t last = 0;
    while (text.size() <= kCrashLogsize * 1024)
        text += RecordHead(++last) + RecordTail() + "\r\n";
    WriteBytes(App.LogFile2, Wide(text));
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(1, kMaxKillDelayMs);
    for (int kill = 0; kill < kKills; ++kill) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = StartAppending(Writer, Clock, last + 1, report[1]);
        close(report[1]);
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        int64_t reported = last;
        for (int64_t n; read(report[0], &n, sizeof n) == sizeof n;)
            reported = n;
        close(report[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child could not write a record";
        ASSERT_EQ(CheckRecords(Narrow(ReadBytes(App.LogFile2)), reported, last), "")
            << "after kill " << kill << ", random seed " << seed;
    }
    Writer.WriteLogRecord(LogForced);
    EXPECT_EQ(Files().size(), 1u) << "a temporary file of a killed trim is left";
}

} // namespace
} // namespace kv::test
