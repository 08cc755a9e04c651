// Cutting a section out of the log: which lines move, which become time-only break records and
// which stay; the file keeps its encoding; and a writer appending every 10 ms while sections are
// cut loses no record and leaves no partial line. Also the writer's side of one encoding per
// file: records appended to an 8-bit log are 8-bit, and its size limit counts bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "../analysis/CoreHarness.h"
#include "LogTestSupport.h"
#include "logview/format/LogWriter.h"
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

TEST_F(LogSectionTest, UntimedLinesStayAnnotationsStayAndUnfinishedLinesAreKept) {
    const std::string text = "0\tzero time stays\r\nabc\t1\r\n\t5\r\n100;note\r\n150\t2\r\n"
                             "200\t3\r\n300\t4\r\n400\t5\r\n500\t6";
    const std::vector<std::string> lines = Cut(text, 200, 300);
    EXPECT_EQ(lines, (std::vector<std::string>{"0\tzero time stays", "abc\t1", "200;note", "250\t2",
                                               "300", "300", "400\t5"}));
    EXPECT_EQ(Narrow(ReadBytes(Path)).substr(Narrow(ReadBytes(Path)).size() - 5), "500\t6");
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
