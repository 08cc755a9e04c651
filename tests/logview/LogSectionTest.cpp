// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting a section out of the log: which lines move, which go and which stay byte for byte in
// every encoding and line end; the file keeps its encoding; a kill at any moment leaves the old or
// the new file; and a writer appending every 10 ms while sections are cut loses no record and
// leaves no partial line. Also the writer's side of one encoding per
// file: records appended to an 8-bit log are 8-bit, and its size limit counts bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../analysis/CoreHarness.h"
#include "LogTestSupport.h"
#include "logging/LogWriter.h"
#include "logview/model/GraphTypes.h"

namespace kv::test {
namespace {

constexpr int64_t kT0 = 1351900000;
constexpr int64_t kHour = 3600;

std::string TenHours() {
    std::string text;
    for (int i = 0; i <= 60; ++i)
        text += std::to_string(kT0 + 600 * i) + "\t-2.5\t280\r\n";
    return text;
}

class LogSectionTest : public ::testing::Test {
protected:
    std::vector<std::string> Cut(const std::string& text, int64_t start, int64_t end,
                                 SectionDeletion expected = SectionDeletion::Deleted) {
        WriteBytes(Path, Wide(text));
        std::string error;
        EXPECT_EQ(DeleteLogSection(Path, start, end, error), expected) << error;
        return CrLfLines(Narrow(ReadBytes(Path)));
    }

    LogTempDir Dir;
    std::string Path = Dir.File("watch.log");
};

TEST_F(LogSectionTest, TheSectionGoesAndOlderRecordsMoveForwardByItsLength) {
    const std::vector<std::string> lines = Cut(TenHours(), kT0 + 3 * kHour, kT0 + 5 * kHour);
    ASSERT_EQ(lines.size(), 18u + 2u + 30u);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(lines[i], std::to_string(kT0 + 600 * i + 2 * kHour) + "\t-2.5\t280");
    EXPECT_EQ(lines[18], std::to_string(kT0 + 5 * kHour)); // the section's first, moved
    EXPECT_EQ(lines[19], std::to_string(kT0 + 5 * kHour)); // the last shown, values dropped
    for (int i = 31; i <= 60; ++i)
        EXPECT_EQ(lines[i - 11], std::to_string(kT0 + 600 * i) + "\t-2.5\t280");
}

// A text in one of the three encodings a log may be in; '~' stands for "é".
enum class Encoding { Windows1252, Utf8, Utf16 };
std::string Encoded(std::string_view text, Encoding encoding) {
    std::string out;
    for (const char c : text) {
        if (c == '~')
            out += encoding == Encoding::Windows1252 ? std::string("\xE9")
                   : encoding == Encoding::Utf8      ? std::string("\xC3\xA9")
                                                     : std::string("\xE9\0", 2);
        else
            out += encoding == Encoding::Utf16 ? std::string{c, '\0'} : std::string(1, c);
    }
    return out;
}

TEST_F(LogSectionTest, KeptLinesStayByteForByteAndTheWholeSectionGoes) {
    const struct {
        const char* Name;
        const char* Before;
        const char* After; // the section [200, 300] cut out
    } cases[] = {
        {"CR LF",
         "\t; r~glage\r\n100\t1\t;nettoy~\r\n150,2 x\r\n;note\r\n200\t2\r\n\t5~\r\nabc\t1\r\n"
         "250\t~\r\n\n300\t3\r\n300\t4\r\n300\t5;~\r\n \tcomment~\r\n400\t6\r\n\n0\t~\r\n\n500\t7",
         "\t; r~glage\r\n200\t1\t;nettoy~\r\n250,2 x\r\n;note\r\n300\r\n300\r\nabc\t1\r\n"
         " \tcomment~\r\n400\t6\r\n\n0\t~\r\n\n500\t7"},
        {"CR alone", "100\t1~\r;c\r200\t2\r250\t3\r300\t4\r400\t5~\r500",
         "200\t1~\r;c\r300\r\n300\r\n400\t5~\r500"},
        {"line feeds alone end no line", "100\t1\n200\t2~\n300\t3\n", "100\t1\n200\t2~\n300\t3\n"},
        {"the last line goes with its line feeds", "100\t1\r\n200\t2\r\n300\t3\r\n\n",
         "200\t1\r\n300\r\n300\r\n"},
    };
    for (const auto& c : cases)
        for (const Encoding encoding : {Encoding::Windows1252, Encoding::Utf8, Encoding::Utf16}) {
            WriteBytes(Path, Encoded(c.Before, encoding));
            std::string error;
            ASSERT_EQ(DeleteLogSection(Path, 200, 300, error), SectionDeletion::Deleted) << error;
            EXPECT_EQ(ReadBytes(Path), Encoded(c.After, encoding))
                << c.Name << ", encoding " << static_cast<int>(encoding);
        }
}

TEST_F(LogSectionTest, TheFileKeepsItsEncodingAndBadRequestsChangeNothing) {
    WriteBytes(Path, TenHours());
    std::string error;
    ASSERT_EQ(DeleteLogSection(Path, kT0, kT0 + kHour, error), SectionDeletion::Deleted);
    const std::string narrow = ReadBytes(Path);
    EXPECT_EQ(narrow.find('\0'), std::string::npos);
    EXPECT_EQ(CrLfLines(narrow).size(), 61u - 7u + 2u);

    EXPECT_EQ(DeleteLogSection(Path, 10, 5, error), SectionDeletion::NothingShown);
    EXPECT_EQ(DeleteLogSection(Path, EndOfTime, 0, error), SectionDeletion::NothingShown);
    EXPECT_EQ(ReadBytes(Path), narrow);
    EXPECT_EQ(DeleteLogSection(Dir.File("none.log"), 1, 2, error), SectionDeletion::CannotRead);
    WriteBytes(Path, "");
    EXPECT_EQ(DeleteLogSection(Path, 1, 2, error), SectionDeletion::EmptyFile);
}

// A child cuts the same section out of a log of a few MB again and again and is killed at random
// moments: the log is always one of the states the cuts go through, never a mixture or a part.
TEST_F(LogSectionTest, AKillAtAnyMomentLeavesTheOldOrTheNewFile) {
    constexpr int kCuts = 4; // a child's cuts before it stops by itself
    constexpr int kKills = 24;
    std::string text;
    for (int i = 0; i < 40000; ++i)
        text += std::to_string(kT0 + 10 * i) + "\t-2.5\t280\t0.5\t;note\r\n";
    const std::string original = Wide(text);
    const int64_t start = kT0 + 100000;
    const int64_t end = start + kHour;
    std::vector<std::string> states{original};
    WriteBytes(Path, original);
    std::string error;
    const auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < kCuts; ++i) {
        ASSERT_EQ(DeleteLogSection(Path, start, end, error), SectionDeletion::Deleted) << error;
        states.push_back(ReadBytes(Path));
    }
    const auto cutsTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - began);

    // Timed from the child's start, and up to twice the cuts' time: on a busy machine the kills
    // still fall before, inside and after the cuts.
    std::mt19937 random(5);
    std::uniform_int_distribution<int64_t> delay(0, 2 * cutsTime.count());
    std::set<size_t> seen;
    for (int k = 0; k < kKills; ++k) {
        WriteBytes(Path, original);
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const char ready = 1;
            if (write(started[1], &ready, 1) != 1) _exit(1);
            for (int i = 0; i < kCuts; ++i)
                DeleteLogSection(Path, start, end, error);
            _exit(0);
        }
        char ready = 0;
        ASSERT_EQ(read(started[0], &ready, 1), 1);
        close(started[0]);
        close(started[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const auto state = std::find(states.begin(), states.end(), ReadBytes(Path));
        ASSERT_NE(state, states.end()) << "after kill " << k;
        seen.insert(static_cast<size_t>(state - states.begin()));
    }
    EXPECT_GT(seen.size(), 1u) << "the kills all fell at the same point";
}

// The writer's fixture: logging on into Dir/watch.log with a clock giving each record a new
// second.
class LogFileWriterTest : public ::testing::Test {
protected:
    class StepClock : public LogClock {
    public:
        uint32_t TickMilliseconds() override { return Tick += 1000; }
        int64_t UnixSeconds() override { return Unix++; }
        CalendarTime LocalTime(int64_t) override { return {2012, 11, 3, 14, 5, 9, 0, 6}; }
        std::atomic<uint32_t> Tick{0};
        std::atomic<int64_t> Unix{2000000000};
    };

    LogFileWriterTest() : Writer(Harness.Core, App, Clock) {
        App.LogFile2 = Path;
        Harness.Core.Settings.Logging = 1;
        Harness.Core.Derived.BeatPeriod = 0.2;
        Harness.Core.Measurement.TickElapsed = 10.0;
        Harness.Core.Measurement.Deviation = 0.5;
    }

    LogTempDir Dir;
    std::string Path = Dir.File("watch.log");
    CoreHarness Harness;
    AppSettings App;
    StepClock Clock;
    LogWriter Writer;
};

TEST_F(LogFileWriterTest, RecordsAppendedToAnEightBitLogAreEightBit) {
    WriteBytes(Path, "1000\t1\r\n");
    Writer.AnnotateLog(0, "r\xC3\xA9gl\xC3\xA9");
    Writer.WriteLogRecord(LogForced);
    Writer.WriteLogRecord(LogTimeOnly);
    const std::string bytes = ReadBytes(Path);
    EXPECT_EQ(bytes.find('\0'), std::string::npos);
    const std::vector<std::string> lines = CrLfLines(bytes);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "2000000000\t\t\t0.5\t0\t4320\t\t0\t;03/11/12 14:05:09\t"
                        "<TAG0>r\xC3\xA9gl\xC3\xA9</TAG>");
    EXPECT_EQ(lines[2], "2000000001");

    // An empty file gets this system's UTF-16.
    WriteBytes(Path, "");
    Writer.WriteLogRecord(LogTimeOnly);
    EXPECT_EQ(ReadBytes(Path), Wide("2000000002\r\n"));
}

TEST_F(LogFileWriterTest, TheSizeLimitOfAnEightBitLogCountsBytes) {
    App.MaxLogsize = 1;
    std::string text;
    for (int i = 0; text.size() < 1537; ++i)
        text += std::to_string(100000 + i) + "\t1\r\n";
    text.resize(1537 - 2);
    text += "\r\n";
    WriteBytes(Path, text);
    Writer.WriteLogRecord(LogTimeOnly);
    const std::string bytes = ReadBytes(Path);
    EXPECT_EQ(bytes.find('\0'), std::string::npos);
    EXPECT_LE(bytes.size(), 1064u + 12u);
    EXPECT_EQ(bytes.substr(bytes.size() - 12), "2000000000\r\n");
    const size_t kept = text.find(bytes.substr(0, 20));
    ASSERT_NE(kept, std::string::npos);
    ASSERT_GT(kept, 0u);
    EXPECT_EQ(text[kept - 1], '\n'); // it starts at a record
}

TEST_F(LogFileWriterTest, AWriterEveryTenMillisecondsLosesNothingWhileSectionsAreCut) {
    // Old records to cut from, and a block the section never reaches.
    std::string old;
    for (int i = 0; i < 3000; ++i)
        old += std::to_string(10000 + i) + "\t1\t2\r\n";
    for (int i = 0; i < 10; ++i)
        old += std::to_string(1000000 + i) + "\t3\r\n";
    WriteBytes(Path, Wide(old));

    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        while (!stop) {
            Writer.WriteLogRecord(LogForced);
            ++written;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    int cuts = 0;
    std::string error;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
         std::chrono::steady_clock::now() < end; ++cuts) {
        const int64_t start = 10000 + 20 * (cuts % 100);
        ASSERT_EQ(Writer.DeleteSection(Path, start, start + 10, error), SectionDeletion::Deleted)
            << error;
    }
    stop = true;
    writer.join();

    const std::string bytes = ReadBytes(Path);
    ASSERT_EQ(bytes.size() % 2, 0u);
    const std::string text = Narrow(bytes);
    ASSERT_FALSE(text.empty()) << "not UTF-16 throughout";
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n"); // no partial line at the end
    std::map<int64_t, int> records;                  // the writer's records by time
    for (const std::string& line : CrLfLines(text)) {
        ASSERT_EQ(line.find_first_not_of("0123456789\t;/: .<>TAGe-"), std::string::npos) << line;
        const int64_t t = std::stoll(line);
        if (t < 2000000000) continue;
        ++records[t];
        EXPECT_EQ(line.substr(10, 6), "\t\t\t0.5") << line; // whole: its fields are all there
    }
    EXPECT_GT(cuts, 5);
    EXPECT_EQ(static_cast<int>(records.size()), written.load());
    for (const auto& [t, count] : records)
        EXPECT_EQ(count, 1) << t;
    EXPECT_EQ(records.begin()->first, 2000000000);
    EXPECT_EQ(records.rbegin()->first, 2000000000 + written.load() - 1);
}

} // namespace
} // namespace kv::test
